# Changing bindings: what each input asks for, the paths whose state differs,
# the runs that change them, and what those runs say.

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
    $label = "$($Binding.ComponentID): $($Binding.Path)"
    if ($Binding.Name) { $label = "$($Binding.Name) ($($Binding.ComponentID)): $($Binding.Path)" }
    $computer = Get-ComputerOf -Binding $Binding
    if ($computer) { $label = "${computer}: $label" }
    $label
}

# Puts bindings into the states wanted: each item a Current binding, as just
# listed, the Enabled state wanted for it, and the Computer its row named. A
# path already in that state is left alone. Over sessions, disabling the
# protocol that carries a machine's session on the adapter it arrives on is
# refused, unless -Force. Every change is offered to ShouldProcess first;
# then each machine's changes run there one after another, all machines at once.
function Invoke-Change {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Items, [switch]$PassThru, [switch]$Force,
        [hashtable]$Listings)
    $management = @{}
    if (-not $Force) {
        $management = Get-ManagementAdapter -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Items $Items
    }
    $work = @{}
    $planned = @{}
    foreach ($item in $Items) {
        $current = $item.Current
        if ($current.Enabled -eq $item.Enabled) {
            if ($PassThru) { Copy-Binding -Binding $current -Computer $item.Computer }
            continue
        }
        $computer = Get-ComputerOf -Binding $current
        $label = Get-BindingLabel -Binding $current
        $carrier = Find-Carrier -Adapters $management[$computer] -Binding $current
        if (-not $item.Enabled -and $carrier) {
            $message = "${label}: not disabled: $($carrier.Protocol) on this adapter carries the session to $computer " +
            "($($carrier.Address)), and the machine would drop off the network. -Force disables it all the same."
            $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category InvalidOperation -Target $current))
            continue
        }
        $action = 'Disable'
        if ($item.Enabled) { $action = 'Enable' }
        if (-not $Cmdlet.ShouldProcess($label, "$action binding path")) { continue }
        if (-not $work.ContainsKey($computer)) {
            $work[$computer] = New-Object System.Collections.ArrayList
            $planned[$computer] = New-Object System.Collections.ArrayList
        }
        $arguments = @('class', $script:ClassWords[$current.Class], 'comp', $current.ComponentID, 'path', $current.Path,
            $action.ToLowerInvariant())
        [void]$work[$computer].Add((ConvertTo-CommandLine -ArgumentList $arguments))
        [void]$planned[$computer].Add($item)
    }
    if ($work.Count -eq 0) { return }
    $computers = @($work.Keys)
    $before = Get-ListingBefore -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Computers $computers -Listings $Listings
    $lines = @{}
    foreach ($computer in $computers) { $lines[$computer] = $work[$computer].ToArray() }
    $machines = Invoke-Run -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Work $lines
    $asked = @{}
    foreach ($computer in $planned.Keys) {
        foreach ($item in $planned[$computer]) { $asked[(Get-BindingKey -Binding $item.Current)] = $true }
        if (-not $machines.ContainsKey($computer)) { continue }
        $runs = $machines[$computer].Runs
        for ($i = 0; $i -lt $runs.Count; $i++) {
            $item = $planned[$computer][$i]
            Read-Change -Cmdlet $Cmdlet -Run $runs[$i] -Item $item -PassThru:$PassThru
        }
    }
    $after = Get-Listing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Computers $computers `
        -Classes @($script:ClassWords.Keys)
    Write-SideEffect -Cmdlet $Cmdlet -Before $before -After $after -Asked $asked -PassThru:$PassThru
}

# What one change's run says: the changed binding (with -PassThru), a warning
# for a restart pending, or an error that names the path; never an object for
# a change not made. The run must say, in ferrule's own lines, that it set the
# path asked for, of the component asked for (both as ferrule prints them), to
# the state wanted: anything else is an error that says the change may have
# been made.
function Read-Change {
    param($Cmdlet, $Run, $Item, [switch]$PassThru)
    $current = $Item.Current
    $computer = Get-ComputerOf -Binding $current
    $label = "$($current.ComponentID): $($current.Path)"
    if (-not (Assert-Run -Cmdlet $Cmdlet -Run $Run -Target $current -Computer $computer)) { return }
    $output = Read-Output -Lines $Run.Lines -Class $current.Class -Change
    $strange = @($output.Failures | Where-Object { 'NotSpecified', 'InvalidResult' -contains $_.Category })
    $paths = @($output.Paths)
    $asked = $paths.Count -eq 1 -and $paths[0].ComponentID -ceq $current.ComponentID -and $paths[0].Path -ceq $current.Path -and
        $paths[0].Enabled -eq $Item.Enabled
    $failed = $output.Failures.Count -gt $strange.Count
    if ($strange.Count -gt 0 -or ($paths.Count -gt 0 -and -not $asked) -or
        ($asked -and -not $failed -and -not $output.Applied.ContainsKey($paths[0].ComponentID))) {
        $message = "${label}: ferrule's output was not understood, and the change may have been made: " +
        "$(@($Run.Lines) -join ' | ')"
        $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category InvalidResult -Target $current -Computer $computer))
        return
    }
    foreach ($failure in $output.Failures) {
        Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $current -Computer $computer -Label $label
    }
    if ($failed) { return }
    if ($paths.Count -eq 0) {
        $Cmdlet.WriteError((New-ErrorRecord -Message "No binding path $label is there to change." -Category ObjectNotFound `
                    -Target $current -Computer $computer))
        return
    }
    $result = Copy-Binding -Binding $current -Computer $Item.Computer
    $code = $output.Applied[$paths[0].ComponentID]
    if ($computer) { $label = "${computer}: $label" }
    if ($code -eq $script:RebootCode) {
        $result.RebootRequired = $true
        $Cmdlet.WriteWarning("$label`: the change is made; a restart completes it ($($Run.Lines[-1])).")
    } elseif ($code) {
        $Cmdlet.WriteWarning("$label`: $($Run.Lines[-1])")
    }
    $result.Enabled = $Item.Enabled
    if ($PassThru) { $result }
}

function Get-ThrottleLimit {
    param([hashtable]$Bound)
    if ($Bound.ContainsKey('ThrottleLimit')) { return $Bound['ThrottleLimit'] }
    $script:DefaultThrottleLimit
}

# The class a selection's command works on: -Class, Adapter by default; -Name
# names adapters, and with another -Class is refused.
function Get-SelectionClass {
    param($Cmdlet, [hashtable]$Bound)
    $class = 'Adapter'
    if ($Bound.ContainsKey('Class')) { $class = $Bound['Class'] }
    if ($Bound.ContainsKey('Name') -and $class -ne 'Adapter') {
        $message = "-Name names adapters by their connection names, and takes -Class Adapter, not -Class $class."
        $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Message $message -Category InvalidArgument -Target $class))
    }
    $class
}

# What Disable-FerruleBinding and Enable-FerruleBinding do with each input: a
# selection is changed at once (one that names nothing is refused, since it
# would not be all that is meant); objects from the pipeline are gathered
# into Wanted, to be found and changed together at the end.
function Step-Change {
    param($Cmdlet, [hashtable]$Bound, [switch]$Enable, [System.Collections.ArrayList]$Wanted)
    if ($Cmdlet.ParameterSetName -eq 'Selection') {
        if (-not @('ComponentID', 'Path', 'DisplayName', 'Name' | Where-Object { $Bound.ContainsKey($_) })) {
            $message = 'Name the paths to change with -ComponentID, -Path, -DisplayName or -Name; for every path of ' +
            'the class, -ComponentID *.'
            $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Message $message -Category InvalidArgument -Target $null))
        }
        $class = Get-SelectionClass -Cmdlet $Cmdlet -Bound $Bound
        $throttle = Get-ThrottleLimit -Bound $Bound
        $listings = @{}
        $selected = @(Get-Selected -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit $throttle -Class $class `
                -ComponentID $Bound['ComponentID'] -Path $Bound['Path'] -DisplayName $Bound['DisplayName'] -Name $Bound['Name'] -Change `
                -Listings $listings)
        $items = @(foreach ($one in $selected) { @{ Current = $one; Enabled = [bool]$Enable; Computer = $null } })
        Invoke-Change -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit $throttle -Items $items `
            -PassThru:([bool]$Bound['PassThru']) -Force:([bool]$Bound['Force']) -Listings $listings
        return
    }
    foreach ($item in $Bound['InputObject']) {
        $one = ConvertTo-Wanted -Cmdlet $Cmdlet -Item $item -Enabled ([bool]$Enable)
        if ($one) { [void]$Wanted.Add($one) }
    }
}

function Complete-Change {
    param($Cmdlet, [hashtable]$Bound, [System.Collections.ArrayList]$Wanted)
    if ($Wanted.Count -eq 0) { return }
    Invoke-Wanted -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit (Get-ThrottleLimit -Bound $Bound) `
        -Wanted $Wanted.ToArray() -PassThru:([bool]$Bound['PassThru']) -Force:([bool]$Bound['Force'])
}
