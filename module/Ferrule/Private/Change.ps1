# Changing bindings: what each input asks for, the paths whose state differs,
# the runs that change them, and what those runs say.

# A copy of a binding, its machine's name included.
function Copy-Binding {
    param($Binding)
    $copy = $Binding.Clone()
    $computer = $Binding.PSObject.Properties['PSComputerName']
    if ($computer) { Add-Member -InputObject $copy -NotePropertyName PSComputerName -NotePropertyValue $computer.Value }
    $copy
}

function Get-ComputerOf {
    param($Binding)
    $computer = $Binding.PSObject.Properties['PSComputerName']
    if ($computer -and $computer.Value) { return [string]$computer.Value }
    ''
}

# Puts bindings into the states wanted: each item a Current binding, as just
# listed, and the Enabled state wanted for it. A path already in that state is
# left alone. Every change is offered to ShouldProcess first; then each
# machine's changes run there one after another, all machines at once.
function Invoke-Change {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Items, [switch]$PassThru)
    $work = @{}
    $planned = @{}
    foreach ($item in $Items) {
        $current = $item.Current
        if ($current.Enabled -eq $item.Enabled) {
            if ($PassThru) { Copy-Binding -Binding $current }
            continue
        }
        $computer = Get-ComputerOf -Binding $current
        $action = 'Disable'
        if ($item.Enabled) { $action = 'Enable' }
        $target = "$($current.ComponentID): $($current.Path)"
        if ($computer) { $target = "${computer}: $target" }
        if (-not $Cmdlet.ShouldProcess($target, "$action binding path")) { continue }
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
    $lines = @{}
    foreach ($computer in @($work.Keys)) { $lines[$computer] = $work[$computer].ToArray() }
    $machines = Invoke-Run -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Work $lines
    foreach ($computer in $planned.Keys) {
        if (-not $machines.ContainsKey($computer)) { continue }
        $runs = $machines[$computer].Runs
        for ($i = 0; $i -lt $runs.Count; $i++) {
            $item = $planned[$computer][$i]
            Read-Change -Cmdlet $Cmdlet -Run $runs[$i] -Current $item.Current -Enabled $item.Enabled -Computer $computer `
                -PassThru:$PassThru
        }
    }
}

# What one change's run says: the changed binding (with -PassThru), a warning
# for a restart pending, or an error; never an object for a change not made.
# The run must say, in ferrule's own lines, that it set the path asked for, of
# the component asked for (both as ferrule prints them), to the state wanted:
# anything else is an error that says the change may have been made.
function Read-Change {
    param($Cmdlet, $Run, $Current, [bool]$Enabled, [string]$Computer, [switch]$PassThru)
    if (-not (Assert-Run -Cmdlet $Cmdlet -Run $Run -Target $Current -Computer $Computer)) { return }
    $output = Read-Output -Lines $Run.Lines -Class $Current.Class -Change
    $target = "$($Current.ComponentID): $($Current.Path)"
    $strange = @($output.Failures | Where-Object { 'NotSpecified', 'InvalidResult' -contains $_.Category })
    $paths = @($output.Paths)
    $asked = $paths.Count -eq 1 -and $paths[0].ComponentID -ceq $Current.ComponentID -and $paths[0].Path -ceq $Current.Path -and
        $paths[0].Enabled -eq $Enabled
    $failed = $output.Failures.Count -gt $strange.Count
    if ($strange.Count -gt 0 -or ($paths.Count -gt 0 -and -not $asked) -or
        ($asked -and -not $failed -and -not $output.Applied.ContainsKey($paths[0].ComponentID))) {
        $message = "ferrule's output for $target was not understood, and the change may have been made: " +
            "$(@($Run.Lines) -join ' | ')"
        $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category InvalidResult -Target $Current -Computer $Computer))
        return
    }
    foreach ($failure in $output.Failures) { Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $Current -Computer $Computer }
    if ($failed) { return }
    if ($paths.Count -eq 0) {
        $Cmdlet.WriteError((New-ErrorRecord -Message "No binding path $target is there to change." -Category ObjectNotFound `
                    -Target $Current -Computer $Computer))
        return
    }
    $result = Copy-Binding -Binding $Current
    $code = $output.Applied[$paths[0].ComponentID]
    if ($Computer) { $target = "${Computer}: $target" }
    if ($code -eq $script:RebootCode) {
        $result.RebootRequired = $true
        $Cmdlet.WriteWarning("$target`: the change is made; a restart completes it ($($Run.Lines[-1])).")
    } elseif ($code) {
        $Cmdlet.WriteWarning("$target`: $($Run.Lines[-1])")
    }
    $result.Enabled = $Enabled
    if ($PassThru) { $result }
}

# Reads Enabled as a [bool] parameter would, and also as the text that
# Import-Csv gives; $null for anything else.
function ConvertTo-State {
    param($Value)
    if ($Value -is [bool]) { return $Value }
    $text = [string]$Value
    if ($text -eq 'True') { return $true }
    if ($text -eq 'False') { return $false }
    $null
}

# A class by its name or by ferrule's word for it; $null for anything else.
function ConvertTo-Class {
    param([string]$Value)
    foreach ($class in $script:ClassWords.Keys) {
        if ($Value -eq $class -or $Value -eq $script:ClassWords[$class]) { return $class }
    }
    $null
}

# Bindings named by objects (from the pipeline, a file or another session),
# each with the state wanted: each is found in a fresh listing of its class on
# its machine (the one its PSComputerName names, with -Session; without one,
# every session's), and then changed there where its state differs.
function Invoke-Wanted {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [switch]$PassThru)
    $computers = Get-SessionComputer -Session $Session
    $byClass = @{}
    foreach ($want in $Wanted) {
        $targets = $computers
        if ($Session -and $want.Computer) {
            if ($computers -notcontains $want.Computer) {
                $record = New-ErrorRecord -Message "No session reaches $($want.Computer) for $($want.ComponentID): $($want.Path)." `
                    -Category ObjectNotFound -Target $want
                $Cmdlet.WriteError($record)
                continue
            }
            $targets = @($want.Computer)
        }
        if (-not $byClass.ContainsKey($want.Class)) { $byClass[$want.Class] = New-Object System.Collections.ArrayList }
        foreach ($computer in $targets) { [void]$byClass[$want.Class].Add(@{ Want = $want; Computer = $computer }) }
    }
    $items = New-Object System.Collections.ArrayList
    foreach ($class in $byClass.Keys) {
        $current = @{}
        $listed = @(Get-Selected -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Class $class)
        foreach ($one in $listed) { $current["$(Get-ComputerOf -Binding $one)`n$($one.ComponentID)`n$($one.Path)"] = $one }
        foreach ($entry in $byClass[$class]) {
            $want = $entry.Want
            $key = "$($entry.Computer)`n$($want.ComponentID)`n$($want.Path)"
            if ($current.ContainsKey($key)) {
                [void]$items.Add(@{ Current = $current[$key]; Enabled = $want.Enabled })
            } else {
                $record = New-ErrorRecord -Message "No binding path $($want.ComponentID): $($want.Path) of class $class." `
                    -Category ObjectNotFound -Target $want -Computer $entry.Computer
                $Cmdlet.WriteError($record)
            }
        }
    }
    Invoke-Change -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Items $items.ToArray() -PassThru:$PassThru
}

# What one object from the pipeline asks for, or $null (and an error) when
# its Class or Enabled cannot be read.
function ConvertTo-Wanted {
    param($Cmdlet, $Item, $Enabled)
    $class = ConvertTo-Class -Value $Item.Class
    $state = ConvertTo-State -Value $Enabled
    if ($null -eq $class -or $null -eq $state) {
        $message = "Class must be Adapter, Client, Protocol or Service, and Enabled True or False, not '$($Item.Class)' and '$Enabled'."
        $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category InvalidArgument -Target $Item))
        return
    }
    [pscustomobject]@{
        Class = $class; ComponentID = [string]$Item.ComponentID; Path = [string]$Item.Path; Enabled = $state
        Computer = Get-ComputerOf -Binding $Item
    }
}

function Get-ThrottleLimit {
    param([hashtable]$Bound)
    if ($Bound.ContainsKey('ThrottleLimit')) { return $Bound['ThrottleLimit'] }
    $script:DefaultThrottleLimit
}

# What Disable-FerruleBinding and Enable-FerruleBinding do with each input: a
# selection is changed at once; objects from the pipeline are gathered into
# Wanted, to be found and changed together at the end.
function Step-Change {
    param($Cmdlet, [hashtable]$Bound, [switch]$Enable, [System.Collections.ArrayList]$Wanted)
    if ($Cmdlet.ParameterSetName -eq 'Selection') {
        $class = 'Adapter'
        if ($Bound.ContainsKey('Class')) { $class = $Bound['Class'] }
        if ($Bound.ContainsKey('Name')) { $class = 'Adapter' }
        $throttle = Get-ThrottleLimit -Bound $Bound
        $selected = @(Get-Selected -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit $throttle -Class $class `
                -ComponentID $Bound['ComponentID'] -Path $Bound['Path'] -DisplayName $Bound['DisplayName'] -Name $Bound['Name'])
        $items = @(foreach ($one in $selected) { @{ Current = $one; Enabled = [bool]$Enable } })
        Invoke-Change -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit $throttle -Items $items `
            -PassThru:([bool]$Bound['PassThru'])
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
        -Wanted $Wanted.ToArray() -PassThru:([bool]$Bound['PassThru'])
}
