# A binding's machine and its label in messages (its key is
# [Ferrule.Binding]::KeyOf).

# A copy of a binding, its machine's name included: the binding's own, else
# Computer (the name its row gave).
function Copy-Binding {
    param($Binding, [string]$Computer)
    $copy = $Binding.Clone()
    $property = $Binding.PSObject.Properties['PSComputerName']
    if ($property -and $property.Value) { $Computer = $property.Value }
    if ($Computer) { Add-Member -InputObject $copy -NotePropertyName PSComputerName -NotePropertyValue $Computer }
    $copy
}

function Get-ComputerOf {
    param($Binding)
    $computer = $Binding.PSObject.Properties['PSComputerName']
    if ($computer -and $computer.Value) { return [string]$computer.Value }
    ''
}

# How a path is named in -WhatIf, -Confirm and errors: its machine (when
# another), its connection name (when known), its component and its path.
function Get-BindingLabel {
    param($Binding)
    $component = [Ferrule.Binding]::BindNameOf($Binding)
    $label = "${component}: $($Binding.Path)"
    if ($Binding.Name) { $label = "$($Binding.Name) (${component}): $($Binding.Path)" }
    $computer = Get-ComputerOf -Binding $Binding
    if ($computer) { $label = "${computer}: $label" }
    $label
}
