# A change's confirmed steps applied and reported: the runs that change
# each path, what their lines say of it, what Windows changed beside, and
# the one record of each path.

# The confirmed Steps, applied and reported. From here each ends with one
# record: Unknown until its run's lines say made or failed, whatever stops
# the command first, and the records are written whatever happens.
function Invoke-Confirmed {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps, [hashtable]$Listings)
    foreach ($step in $Steps) {
        $step.Record = New-ChangeEvent -Id 1001 -Outcome Unknown -Binding $step.Binding -Before $step.Binding.Enabled `
            -After $step.Wanted
        $step.Record.Computer = $step.Computer
        $step.Record.Label = Get-BindingLabel -Binding $step.Binding
    }
    $beside = New-Object System.Collections.ArrayList
    $started = $false
    try {
        $before = Get-ListingBefore -Cmdlet $Cmdlet -Bound $Bound -Computers @(Get-StepComputer -Steps $Steps) `
            -Listings $Listings
        $started = $true
        $machines = Invoke-ChangeRun -Cmdlet $Cmdlet -Bound $Bound -Steps $Steps
        Read-ChangeRun -Cmdlet $Cmdlet -Bound $Bound -Steps $Steps -Machines $machines
        foreach ($one in @(Write-ChangeBeside -Cmdlet $Cmdlet -Bound $Bound -Steps $Steps -Before $before)) {
            if ($one -is [Ferrule.ChangeRecord]) { [void]$beside.Add($one) } else { $one }
        }
    } finally {
        if (-not $started) { foreach ($step in $Steps) { $step.Record.Outcome = 'Failed' } }
        if (-not $Cmdlet.Stopping) { Write-OutcomeUnknown -Cmdlet $Cmdlet -Steps $Steps }
        Write-StepRecord -Cmdlet $Cmdlet -Bound $Bound -Steps $Steps -Beside $beside.ToArray()
    }
}

# Runs each machine's Steps there, one after another, all machines at once:
# by computer, Invoke-Run's answers.
function Invoke-ChangeRun {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps)
    $work = @{}
    foreach ($step in $Steps) {
        # ferrule's comp is the component whose listing holds the path: on adapters, the adapter.
        $binding = $step.Binding
        $words = @('class', $script:ClassWords[$binding.Class], 'comp', [Ferrule.Binding]::BindNameOf($binding),
            'path', $binding.Path, $step.Action.ToLowerInvariant())
        $step.CommandLine = ConvertTo-CommandLine -ArgumentList $words
    }
    foreach ($computer in (Get-StepComputer -Steps $Steps)) {
        $work[$computer] = [string[]]@(foreach ($step in $Steps) { if ($step.Computer -eq $computer) {
                    $step.CommandLine } })
    }
    Invoke-Run -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit (Get-ThrottleLimit -Bound $Bound) -Work $work
}

# What each machine's runs (Machines, Invoke-Run's) say of its Steps: those
# not run first (a stop that a run's lines tell ends the command there),
# then each run, in order.
function Read-ChangeRun {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps, [hashtable]$Machines)
    $computers = @(foreach ($computer in (Get-StepComputer -Steps $Steps)) {
            if ($Machines.ContainsKey($computer)) { $computer } })
    foreach ($computer in $computers) {
        $mine = @(foreach ($step in $Steps) { if ($step.Computer -eq $computer) { $step } })
        for ($i = @($Machines[$computer].Runs).Count; $i -lt $mine.Count; $i++) {
            Write-NotRun -Cmdlet $Cmdlet -Step $mine[$i]
        }
    }
    foreach ($computer in $computers) {
        $mine = @(foreach ($step in $Steps) { if ($step.Computer -eq $computer) { $step } })
        $runs = @($Machines[$computer].Runs)
        for ($i = 0; $i -lt $runs.Count; $i++) {
            Read-Change -Cmdlet $Cmdlet -Run $runs[$i] -Step $mine[$i] -PassThru:([bool]$Bound['PassThru']) `
                -Earlier:($i -gt 0)
        }
    }
}

# What Windows changed beside the Steps on their machines: the listings
# after, against those Before (Write-SideEffect's warnings, records and
# objects). An exe gone since the changes ran leaves them standing,
# unchecked.
function Write-ChangeBeside {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps, [hashtable]$Before)
    $asked = @{}
    foreach ($step in $Steps) { $asked[[Ferrule.Binding]::KeyOf($step.Binding, $step.Computer)] = $true }
    $exe = Get-ExePath
    if (-not $Bound['Session'] -and -not (Test-Path -LiteralPath $exe)) {
        $gone = Get-Message -Id ExeMissing -Values $exe
        $Cmdlet.WriteWarning((Get-Message -Id SideEffectsUnchecked -Values 'this machine', $gone))
        return
    }
    $after = Get-ListingAfter -Cmdlet $Cmdlet -Bound $Bound -Before $Before
    $beside = @{}
    foreach ($computer in (Get-StepComputer -Steps $Steps)) {
        $paths = @(foreach ($step in $Steps) { if ($step.Computer -eq $computer) { $step.Binding.Path } })
        $beside[$computer] = $paths -join ', '
    }
    $sideArguments = @{ Cmdlet = $Cmdlet; Before = $Before; After = $after; Asked = $asked; Beside = $beside
        PassThru = [bool]$Bound['PassThru']
    }
    Write-SideEffect @sideArguments
}

# Writes every record on its machine under one GUID: the Steps' and those of
# what Windows changed Beside them.
function Write-StepRecord {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps, [object[]]$Beside)
    $events = @{}
    foreach ($record in @(foreach ($step in $Steps) { $step.Record }) + @($Beside)) {
        if (-not $events.ContainsKey($record.Computer)) {
            $events[$record.Computer] = New-Object System.Collections.ArrayList
        }
        [void]$events[$record.Computer].Add($record)
    }
    $eventArguments = @{ Cmdlet = $Cmdlet; Session = $Bound['Session']; ThrottleLimit = Get-ThrottleLimit -Bound $Bound
        Events = $events; Correlation = [guid]::NewGuid().ToString()
    }
    Write-ChangeEvent @eventArguments
}

# A confirmed path whose run never started, since the runs before it on its
# machine ended there (a start refused, a stop): not made.
function Write-NotRun {
    param($Cmdlet, [Ferrule.ChangeStep]$Step)
    $Step.Record.Outcome = 'Failed'
    $Step.Record.Said = $true
    $Cmdlet.WriteError((New-ErrorRecord -Id PathNotRun -Values $Step.Record.Label -Category OperationStopped `
                -Target $Step.Binding -Computer $Step.Computer))
}

# Each path whose outcome no error has told yet, since the command ended
# before its run was read (the connection lost, the command ended by an
# error): an error that says it may have been made.
function Write-OutcomeUnknown {
    param($Cmdlet, [Ferrule.ChangeStep[]]$Steps)
    foreach ($step in $Steps) {
        $record = $step.Record
        if ($record.Outcome -ne 'Unknown' -or $record.Said) { continue }
        $record.Said = $true
        $Cmdlet.WriteError((New-ErrorRecord -Id OutcomeUnknown -Values $record.Label -Category InvalidResult `
                    -Target $record.Path -Computer $step.Computer))
    }
}

# What one change's run says of its Step: the changed binding (with
# -PassThru), a warning for a restart pending, or an error that names the
# path; never an object for a change not made. The run must say, in
# ferrule's own lines, that it set the path asked for, under the heading of
# the component asked for (both as ferrule prints them), from the state
# listed to the state wanted: anything else is an error that says the change
# may have been made. Only where an Earlier change of the command on that
# machine may have set the path (a binding that Windows links to another)
# may the state before differ, with a warning. What its lines leave unknown
# fails the change where the path was not set, and is a warning where it
# was: the change is made, from a state before that may be unknown. It
# fills in the step's Record: made, failed, or still unknown.
function Read-Change {
    param($Cmdlet, $Run, [Ferrule.ChangeStep]$Step, [switch]$PassThru, [switch]$Earlier)
    $current = $Step.Binding
    $record = $Step.Record
    $record.Output = @($Run.Lines) -join ' | '
    $label = "$([Ferrule.Binding]::BindNameOf($current)): $($current.Path)"
    # A run refused or not started touched nothing; a stopped one may have.
    if ($script:StoppedStatuses -notcontains $Run.Status) { $record.Outcome = 'Failed' }
    $record.Said = $true
    if (-not (Assert-Run -Cmdlet $Cmdlet -Run $Run -Target $current -Computer $Step.Computer)) { return }
    $said = Read-ChangeOutput -Run $Run -Step $Step -Earlier:$Earlier
    if ($said.Strange) {
        $Cmdlet.WriteError((New-ErrorRecord -Id ChangeNotUnderstood -Values $label, $record.Output `
                    -Category InvalidResult -Target $current -Computer $Step.Computer))
        $record.Outcome = 'Unknown'
        return
    }
    foreach ($failure in $said.Output.Failures) {
        if (-not $said.Failed -and ($failure.Unknown -or $failure.Category -eq 'CloseError')) { continue }
        Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $current -Computer $Step.Computer -Label $label
    }
    if ($said.Failed) { return }
    if ($said.Paths.Count -eq 0) {
        $Cmdlet.WriteError((New-ErrorRecord -Id PathGone -Values $label -Category ObjectNotFound -Target $current `
                    -Computer $Step.Computer))
        return
    }
    Complete-Made -Cmdlet $Cmdlet -Run $Run -Step $Step -Said $said -PassThru:$PassThru
}

# What a change run's lines say of its Step: its Output (Read-Output's),
# the Paths it printed, whether they are the one Asked for in the state
# wanted, whether its state before Moved from the one listed, the failures
# that leave a part Unknown and those of Closing the configuration after
# its apply (the change made), whether it Failed, and whether its lines are
# Strange: not what a run of this change prints.
function Read-ChangeOutput {
    param($Run, [Ferrule.ChangeStep]$Step, [switch]$Earlier)
    $current = $Step.Binding
    $component = [Ferrule.Binding]::BindNameOf($current)
    $output = Read-Output -Lines $Run.Lines -Class $current.Class -Change -Asked $component
    $failures = @($output.Failures)
    $odd = @(foreach ($one in $failures) { if ('NotSpecified', 'InvalidResult' -contains $one.Category) { $one } })
    $unknown = @(foreach ($one in $failures) { if ($one.Unknown) { $one } })
    $closing = @(foreach ($one in $failures) { if ($one.Category -eq 'CloseError') { $one } })
    $paths = @($output.Paths)
    $asked = $paths.Count -eq 1 -and [Ferrule.Binding]::BindNameOf($paths[0]) -ceq $component -and
        $paths[0].Path -ceq $current.Path -and $paths[0].Enabled -eq $Step.Wanted
    $moved = $asked -and $null -ne $output.Before[0] -and $output.Before[0] -ne $current.Enabled
    $failed = $failures.Count -gt $odd.Count + $unknown.Count + $closing.Count -or
        ($unknown.Count -gt 0 -and -not $asked)
    $strange = $odd.Count -gt 0 -or ($paths.Count -gt 0 -and -not $asked) -or ($moved -and -not $Earlier) -or
        ($asked -and -not $failed -and -not $output.Applied.ContainsKey($component))
    [pscustomobject]@{ Output = $output; Paths = $paths; Moved = $moved; Unknown = $unknown; Closing = $closing
        Failed = $failed; Strange = $strange; Code = $output.Applied[$component]
    }
}

# A change made (Said, Read-ChangeOutput's): its warnings (a state before
# that had moved, a restart pending, another success code, what was left
# unknown, a configuration not closed), its Record made, and with -PassThru
# the binding in its new state.
function Complete-Made {
    param($Cmdlet, $Run, [Ferrule.ChangeStep]$Step, $Said, [switch]$PassThru)
    $current = $Step.Binding
    $result = Copy-Binding -Binding $current -Computer $Step.RowComputer
    $label = "$([Ferrule.Binding]::BindNameOf($current)): $($current.Path)"
    if ($Step.Computer) { $label = "$($Step.Computer): $label" }
    $warnings = @()
    if ($Said.Moved) {
        $warnings += Get-Message -Id StateMoved -Values $label, ([int]$Said.Output.Before[0]), ([int]$current.Enabled),
            ([int]$Step.Wanted)
    }
    if ($Said.Code -eq $script:RebootCode) {
        $result.RebootRequired = $true
        $warnings += Get-Message -Id RestartPending -Values $label, $Run.Lines[-1]
    } elseif ($Said.Code) {
        $warnings += Get-Message -Id AppliedWithCode -Values $label, $Run.Lines[-1]
    }
    foreach ($failure in $Said.Unknown) {
        if ($failure.Unknown -eq 'Path') {
            $warnings += Get-Message -Id MadeFromUnknownState -Values $label, $failure.Line
        } else {
            $warnings += Get-Message -Id MadeBesideCutShort -Values $label, $failure.Line
        }
    }
    foreach ($failure in $Said.Closing) { $warnings += Get-Message -Id MadeNotClosed -Values $label, $failure.Line }
    foreach ($warning in $warnings) { $Cmdlet.WriteWarning($warning) }
    $Step.Record.EventId = 1000
    $Step.Record.Outcome = 'Made'
    $Step.Record.Before = $Said.Output.Before[0]
    $result.Enabled = $Step.Wanted
    if ($PassThru) { $result }
}
