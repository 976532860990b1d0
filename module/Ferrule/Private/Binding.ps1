# A binding's machine, its label in messages and its key.

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

# A key for a path on its machine (Computer, where the binding is not yet
# marked with it): its class, component, adapter (InterfaceGuid, on adapters)
# and path, so that a path of one adapter is never taken for another's.
function Get-BindingKey {
    param($Binding, [string]$Computer = (Get-ComputerOf -Binding $Binding))
    "$Computer`n$($Binding.Class)`n$($Binding.ComponentID)`n$($Binding.InterfaceGuid)`n$($Binding.Path)"
}
