# Changing bindings: what each input asks for, the paths whose state differs,
# the runs that change them, and what those runs say.

# Puts bindings into the states wanted: each item a Current binding, as just
# listed, the Enabled state wanted for it, and the Computer its row named. A
# path already in that state is left alone. A path that ferrule cannot tell
# from another of its listing (Ambiguous, by Get-BindingKey) is not changed.
# Unless -Force, the guard refuses what could cut off a machine reached
# through a session. Every change is offered to ShouldProcess before any
# runs: one that cannot be asked (no host to prompt) is not confirmed, and
# then nothing runs; so does any other failure before the runs. Then each
# machine's changes run there one after another, all machines at once.
function Invoke-Change {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Items, [switch]$PassThru, [switch]$Force,
        [hashtable]$Listings, [hashtable]$Ambiguous = @{})
    $work = @{}
    $planned = @{}
    $unconfirmed = $null
    try {
        $guard = @{}
        if (-not $Force) { $guard = Get-GuardInfo -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit `
            -Items $Items }
        foreach ($item in $Items) {
            $current = $item.Current
            $computer = Get-ComputerOf -Binding $current
            $label = Get-BindingLabel -Binding $current
            if ($Ambiguous.ContainsKey((Get-BindingKey -Binding $current))) {
                $Cmdlet.WriteError((New-ErrorRecord -Id PathAmbiguous -Values $label -Category InvalidResult `
                    -Target $current))
                continue
            }
            $action = 'Disable'
            if ($item.Enabled) { $action = 'Enable' }
            $refusal = Get-GuardRefusal -Info $guard[$computer] -Item $item -Computer $computer
            if ($refusal) {
                $info = $guard[$computer]
                $machine = $(if ($computer) { $computer } else { [Environment]::MachineName })
                $addresses = @(foreach ($one in @($info.Sessions)) { if ($one -and $one.Address) { $one.Address } })
                $routes = @(foreach ($one in @($info.Routes)) { if ($one) { "$($one.Protocol) $($one.Guid)" } })
                $addresses = $addresses -join ', '
                $routes = $routes -join ', '
                $Cmdlet.WriteVerbose((Get-Message -Id VerboseGuard -Values $machine, $addresses, $routes))
                $record = New-ErrorRecord -Id GuardRefused -Values $label, "$($action.ToLowerInvariant())d", $refusal `
                    -Category InvalidOperation -Target $current
                $Cmdlet.WriteError($record)
                continue
            }
            # Only a path that could be changed is already in its state.
            if ($current.Enabled -eq $item.Enabled) {
                if ($PassThru) { Copy-Binding -Binding $current -Computer $item.Computer }
                continue
            }
            # An exception here (NonInteractive, no host) would end only this
            # statement, and the change would run unconfirmed.
            try {
                $confirmed = $Cmdlet.ShouldProcess($label, "$action binding path")
            } catch {
                $unconfirmed = $_
                break
            }
            if (-not $confirmed) { continue }
            if (-not $work.ContainsKey($computer)) {
                $work[$computer] = New-Object System.Collections.ArrayList
                $planned[$computer] = New-Object System.Collections.ArrayList
            }
            # ferrule's comp is the component whose listing holds the path: on adapters, the adapter.
            $arguments = @('class', $script:ClassWords[$current.Class], 'comp', [Ferrule.Binding]::BindNameOf($current),
                'path', $current.Path, $action.ToLowerInvariant())
            [void]$work[$computer].Add((ConvertTo-CommandLine -ArgumentList $arguments))
            [void]$planned[$computer].Add($item)
        }
    } catch [System.Management.Automation.PipelineStoppedException] {
        throw
    } catch {
        $record = $_
        if ($record.Exception -is [System.Management.Automation.ActionPreferenceStopException] -and
            $record.Exception.ErrorRecord) {
            $record = $record.Exception.ErrorRecord
        }
        $Cmdlet.ThrowTerminatingError($record)
    }
    if ($unconfirmed) {
        $record = New-ErrorRecord -Id NotConfirmed -Values $unconfirmed.Exception.Message -Category InvalidOperation `
            -Target $null
        $Cmdlet.ThrowTerminatingError($record)
    }
    if ($work.Count -eq 0) { return }
    $computers = @($work.Keys)
    # From here every path confirmed ends with one record: Unknown until its
    # run's lines say made or failed, whatever stops the command first.
    $events = @{}
    foreach ($computer in $computers) {
        $events[$computer] = New-Object System.Collections.ArrayList
        foreach ($item in $planned[$computer]) {
            $account = New-ChangeEvent -Id 1001 -Outcome Unknown -Binding $item.Current -Before $item.Current.Enabled `
                -After $item.Enabled
            $account.Label = Get-BindingLabel -Binding $item.Current
            [void]$events[$computer].Add($account)
        }
    }
    $started = $false
    try {
        $before = Get-ListingBefore -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit `
            -Computers $computers -Listings $Listings
        $lines = @{}
        foreach ($computer in $computers) { $lines[$computer] = $work[$computer].ToArray() }
        $started = $true
        $machines = Invoke-Run -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Work $lines
        $asked = @{}
        # Those not run first: a stop that a run's lines tell ends the command there.
        foreach ($computer in $machines.Keys) {
            for ($i = @($machines[$computer].Runs).Count; $i -lt $planned[$computer].Count; $i++) {
                Write-NotRun -Cmdlet $Cmdlet -Item $planned[$computer][$i] -Account $events[$computer][$i]
            }
        }
        foreach ($computer in $computers) {
            foreach ($item in $planned[$computer]) { $asked[(Get-BindingKey -Binding $item.Current)] = $true }
            if (-not $machines.ContainsKey($computer)) { continue }
            $runs = @($machines[$computer].Runs)
            for ($i = 0; $i -lt $runs.Count; $i++) {
                Read-Change -Cmdlet $Cmdlet -Run $runs[$i] -Item $planned[$computer][$i] -PassThru:$PassThru `
                    -Earlier:($i -gt 0) -Account $events[$computer][$i]
            }
        }
        # An exe gone since the changes ran leaves them standing, unchecked.
        $exe = Get-ExePath
        if (-not $Session -and -not (Test-Path -LiteralPath $exe)) {
            $gone = Get-Message -Id ExeMissing -Values $exe
            $Cmdlet.WriteWarning((Get-Message -Id SideEffectsUnchecked -Values 'this machine', $gone))
            return
        }
        Write-SideEffectListing -Cmdlet $Cmdlet -Computers $computers -Classes @($script:ClassWords.Keys)
        $after = Get-Listing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Computers $computers `
            -Classes @($script:ClassWords.Keys)
        Write-SideEffect -Cmdlet $Cmdlet -Before $before -After $after -Asked $asked -PassThru:$PassThru `
            -Events $events
    } finally {
        if (-not $started) { foreach ($list in $events.Values) { foreach ($one in $list) { $one.Outcome = 'Failed' } } }
        if (-not $Cmdlet.Stopping) { Write-OutcomeUnknown -Cmdlet $Cmdlet -Events $events }
        Write-ChangeEvent -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Events $events `
            -Correlation ([guid]::NewGuid().ToString())
    }
}

# A confirmed path whose run never started, since the runs before it on its
# machine ended there (a start refused, a stop): not made.
function Write-NotRun {
    param($Cmdlet, $Item, [hashtable]$Account)
    $current = $Item.Current
    $Account.Outcome = 'Failed'
    $Account.Said = $true
    $Cmdlet.WriteError((New-ErrorRecord -Id PathNotRun -Values (Get-BindingLabel -Binding $current) `
        -Category OperationStopped -Target $current -Computer (Get-ComputerOf -Binding $current)))
}

# Each path whose outcome no error has told yet, since the command ended
# before its run was read (the connection lost, the command ended by an
# error): an error that says it may have been made.
function Write-OutcomeUnknown {
    param($Cmdlet, [hashtable]$Events)
    foreach ($computer in $Events.Keys) {
        foreach ($account in $Events[$computer]) {
            if ($account.Outcome -ne 'Unknown' -or $account.Said) { continue }
            $account.Said = $true
            $Cmdlet.WriteError((New-ErrorRecord -Id OutcomeUnknown -Values $account.Label -Category InvalidResult `
                -Target $account.Path -Computer $computer))
        }
    }
}

# What one change's run says: the changed binding (with -PassThru), a warning
# for a restart pending, or an error that names the path; never an object for
# a change not made. The run must say, in ferrule's own lines, that it set the
# path asked for, under the heading of the component asked for (both as
# ferrule prints them), from the state listed to the state wanted: anything
# else is an error that says the change may have been made. Only where an
# Earlier change of the command on that machine may have set the path (a
# binding that Windows links to another) may the state before differ, with
# a warning. What its lines leave unknown fails the change where the path
# was not set, and is a warning where it was: the change is made, from a
# state before that may be unknown. It fills in the path's Account, the
# record made before the runs: made, failed, or still unknown.
function Read-Change {
    param($Cmdlet, $Run, $Item, [switch]$PassThru, [switch]$Earlier, [hashtable]$Account)
    $current = $Item.Current
    $Account.Output = @($Run.Lines) -join ' | '
    $computer = Get-ComputerOf -Binding $current
    $component = [Ferrule.Binding]::BindNameOf($current)
    $label = "${component}: $($current.Path)"
    # A run refused or not started touched nothing; a stopped one may have.
    if ($script:StoppedStatuses -notcontains $Run.Status) { $Account.Outcome = 'Failed' }
    $Account.Said = $true
    if (-not (Assert-Run -Cmdlet $Cmdlet -Run $Run -Target $current -Computer $computer)) { return }
    $output = Read-Output -Lines $Run.Lines -Class $current.Class -Change -Asked $component
    $strange = @(foreach ($failure in $output.Failures) { if ('NotSpecified', 'InvalidResult' -contains
        $failure.Category) { $failure } })
    $unknown = @(foreach ($failure in $output.Failures) { if ($failure.Unknown) { $failure } })
    $paths = @($output.Paths)
    $asked = $paths.Count -eq 1 -and [Ferrule.Binding]::BindNameOf($paths[0]) -ceq $component -and $paths[0].Path -ceq
        $current.Path -and
        $paths[0].Enabled -eq $Item.Enabled
    $moved = $asked -and $null -ne $output.Before[0] -and $output.Before[0] -ne $current.Enabled
    # A configuration that could not be closed after its apply leaves the change made.
    $closing = @(foreach ($failure in $output.Failures) { if ($failure.Category -eq 'CloseError') { $failure } })
    $failed = $output.Failures.Count -gt $strange.Count + $unknown.Count + $closing.Count -or
        ($unknown.Count -gt 0 -and -not $asked)
    if ($strange.Count -gt 0 -or ($paths.Count -gt 0 -and -not $asked) -or ($moved -and -not $Earlier) -or
        ($asked -and -not $failed -and -not $output.Applied.ContainsKey($component))) {
        $record = New-ErrorRecord -Id ChangeNotUnderstood -Values $label, (@($Run.Lines) -join ' | ') `
            -Category InvalidResult `
            -Target $current -Computer $computer
        $Cmdlet.WriteError($record)
        $Account.Outcome = 'Unknown'
        return
    }
    foreach ($failure in $output.Failures) {
        if (-not $failed -and ($failure.Unknown -or $failure.Category -eq 'CloseError')) { continue }
        Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $current -Computer $computer -Label $label
    }
    if ($failed) { return }
    if ($paths.Count -eq 0) {
        $Cmdlet.WriteError((New-ErrorRecord -Id PathGone -Values $label -Category ObjectNotFound -Target $current `
                    -Computer $computer))
        return
    }
    $result = Copy-Binding -Binding $current -Computer $Item.Computer
    $code = $output.Applied[$component]
    if ($computer) { $label = "${computer}: $label" }
    if ($moved) {
        $Cmdlet.WriteWarning((Get-Message -Id StateMoved `
            -Values $label, ([int]$output.Before[0]), ([int]$current.Enabled),
                ([int]$Item.Enabled)))
    }
    if ($code -eq $script:RebootCode) {
        $result.RebootRequired = $true
        $Cmdlet.WriteWarning((Get-Message -Id RestartPending -Values $label, $Run.Lines[-1]))
    } elseif ($code) {
        $Cmdlet.WriteWarning((Get-Message -Id AppliedWithCode -Values $label, $Run.Lines[-1]))
    }
    foreach ($failure in $unknown) {
        $said = Get-Message -Id MadeBesideCutShort -Values $label, $failure.Line
        if ($failure.Unknown -eq 'Path') { $said = Get-Message -Id MadeFromUnknownState -Values $label, $failure.Line }
        $Cmdlet.WriteWarning($said)
    }
    foreach ($failure in $closing) {
        $Cmdlet.WriteWarning((Get-Message -Id MadeNotClosed -Values $label, $failure.Line))
    }
    $Account.EventId = 1000
    $Account.Outcome = 'Made'
    $Account.Before = $output.Before[0]
    $result.Enabled = $Item.Enabled
    if ($PassThru) { $result }
}

# What Disable-FerruleBinding and Enable-FerruleBinding do with each input: a
# selection is changed at once (one that names nothing is refused, since it
# would not be all that is meant); objects from the pipeline are gathered
# into Rows, to be read, found and changed together at the end.
function Step-Change {
    param($Cmdlet, [hashtable]$Bound, [switch]$Enable, [System.Collections.ArrayList]$Rows)
    if ($Cmdlet.ParameterSetName -eq 'Selection') {
        if (-not ($Bound.ContainsKey('ComponentID') -or $Bound.ContainsKey('Path') -or
            $Bound.ContainsKey('DisplayName') -or
                $Bound.ContainsKey('Name'))) {
            $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Id NoSelector -Category InvalidArgument -Target $null))
        }
        $class = Get-SelectionClass -Cmdlet $Cmdlet -Bound $Bound
        $throttle = Get-ThrottleLimit -Bound $Bound
        $listings = @{}
        $ambiguous = @{}
        $selected = @(Get-Selected -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit $throttle -Class $class `
                -ComponentID $Bound['ComponentID'] -Path $Bound['Path'] -DisplayName $Bound['DisplayName'] `
                    -Name $Bound['Name'] -Change `
                -Listings $listings -Ambiguous $ambiguous)
        $items = @(foreach ($one in $selected) { @{ Current = $one; Enabled = [bool]$Enable; Computer = $null } })
        Invoke-Change -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit $throttle -Items $items `
            -PassThru:([bool]$Bound['PassThru']) -Force:([bool]$Bound['Force']) -Listings $listings `
                -Ambiguous $ambiguous
        return
    }
    foreach ($item in $Bound['InputObject']) { [void]$Rows.Add($item) }
}

# The end of a change command: the Rows gathered are read at once, each with
# the State wanted (else its own Enabled), and put into that state.
function Complete-Change {
    param($Cmdlet, [hashtable]$Bound, [System.Collections.ArrayList]$Rows, $State)
    if ($Rows.Count -eq 0) { return }
    $wanted = @((ConvertTo-Wanted -Cmdlet $Cmdlet -Items $Rows.ToArray() -State $State).Rows)
    if ($wanted.Count -eq 0) { return }
    Invoke-Wanted -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit (Get-ThrottleLimit -Bound $Bound) `
        -Wanted $wanted -PassThru:([bool]$Bound['PassThru']) -Force:([bool]$Bound['Force'])
}
