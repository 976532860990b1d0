# Changing bindings, in four phases: the plan (what each path's step may
# do), its confirmation (ShouldProcess), the runs that apply it, and the
# report (each path's outcome, what Windows changed beside, the records).

# Puts each step's path into the state it wants. Steps (Ferrule.ChangeStep,
# one a path, each as just listed) come with Listings, each machine's
# listing that they were found in, which is also its first listing before
# the changes. Bound: the command's parameters (Session, ThrottleLimit,
# PassThru, Force). Every change is offered to ShouldProcess before any
# runs: one that cannot be asked (no host to prompt) is not confirmed, and
# then nothing runs; so does any other failure before the runs.
function Invoke-Change {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps, [hashtable]$Listings)
    $unconfirmed = $null
    try {
        Set-ChangeVerdict -Cmdlet $Cmdlet -Bound $Bound -Steps $Steps -Listings $Listings
        $unconfirmed = Confirm-Change -Cmdlet $Cmdlet -Steps $Steps
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
    $confirmed = @(foreach ($step in $Steps) { if ($step.Verdict -eq 'Change') { $step } })
    if ($confirmed.Count -eq 0) { return }
    Invoke-Confirmed -Cmdlet $Cmdlet -Bound $Bound -Steps $confirmed -Listings $Listings
}

# The plan: each step's Verdict. A path that ferrule cannot tell from
# another of its listing is not changed (LookAlike); unless -Force, the
# guard refuses what could cut off a machine reached through a session
# (Guarded); only a path that could be changed is already in its state
# (InState: with -PassThru, given as it is). Each refusal is an error.
function Set-ChangeVerdict {
    param($Cmdlet, [hashtable]$Bound, [Ferrule.ChangeStep[]]$Steps, [hashtable]$Listings)
    $guard = @{}
    if (-not $Bound['Force']) {
        $guard = Get-GuardInfo -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit (Get-ThrottleLimit `
                -Bound $Bound) -Steps $Steps
    }
    foreach ($step in $Steps) {
        $listing = $Listings[$step.Computer]
        if ($listing -and $listing.Ambiguous.ContainsKey([Ferrule.Binding]::KeyOf($step.Binding, $step.Computer))) {
            $step.Verdict = 'LookAlike'
            $Cmdlet.WriteError((New-ErrorRecord -Id PathAmbiguous -Values (Get-BindingLabel -Binding $step.Binding) `
                        -Category InvalidResult -Target $step.Binding))
            continue
        }
        $refusal = Get-GuardRefusal -Info $guard[$step.Computer] -Step $step
        if ($refusal) {
            $step.Verdict = 'Guarded'
            Write-GuardRefusal -Cmdlet $Cmdlet -Info $guard[$step.Computer] -Step $step -Refusal $refusal
            continue
        }
        if ($step.Binding.Enabled -ne $step.Wanted) { continue }
        $step.Verdict = 'InState'
        if ($Bound['PassThru']) { Copy-Binding -Binding $step.Binding -Computer $step.RowComputer }
    }
}

# The guard's refusal of a step: what it knew of the machine (Info) in the
# -Verbose trail, and the error that says why (Refusal).
function Write-GuardRefusal {
    param($Cmdlet, $Info, [Ferrule.ChangeStep]$Step, [string]$Refusal)
    $machine = $(if ($Step.Computer) { $Step.Computer } else { [Environment]::MachineName })
    $addresses = @(foreach ($one in @($Info.Sessions)) { if ($one -and $one.Address) { $one.Address } }) -join ', '
    $routes = @(foreach ($one in @($Info.Routes)) { if ($one) { "$($one.Protocol) $($one.Guid)" } }) -join ', '
    $Cmdlet.WriteVerbose((Get-Message -Id VerboseGuard -Values $machine, $addresses, $routes))
    $record = New-ErrorRecord -Id GuardRefused -Values (Get-BindingLabel -Binding $Step.Binding),
        "$($Step.Action.ToLowerInvariant())d", $Refusal -Category InvalidOperation -Target $Step.Binding
    $Cmdlet.WriteError($record)
}

# Offers each step that would change its path to ShouldProcess, before any
# runs; one not confirmed is Declined. An exception here (NonInteractive, no
# host) would end only this statement, and the change would run
# unconfirmed: it is given back instead, and nothing runs.
function Confirm-Change {
    param($Cmdlet, [Ferrule.ChangeStep[]]$Steps)
    foreach ($step in $Steps) {
        if ($step.Verdict -ne 'Change') { continue }
        try {
            $label = Get-BindingLabel -Binding $step.Binding
            $confirmed = $Cmdlet.ShouldProcess($label, "$($step.Action) binding path")
        } catch {
            return $_
        }
        if (-not $confirmed) { $step.Verdict = 'Declined' }
    }
}

# The machines of Steps, each once, in their order.
function Get-StepComputer {
    param([Ferrule.ChangeStep[]]$Steps)
    $seen = @{}
    foreach ($step in $Steps) {
        if ($seen.ContainsKey($step.Computer)) { continue }
        $seen[$step.Computer] = $true
        $step.Computer
    }
}

# What Disable-FerruleBinding and Enable-FerruleBinding do with each input: a
# selection is changed at once (one that names nothing is refused, since it
# would not be all that is meant); objects from the pipeline are gathered
# into Rows, to be read, found and changed together at the end.
function Step-Change {
    param($Cmdlet, [hashtable]$Bound, [switch]$Enable, [System.Collections.ArrayList]$Rows)
    if ($Cmdlet.ParameterSetName -ne 'Selection') {
        foreach ($item in $Bound['InputObject']) { [void]$Rows.Add($item) }
        return
    }
    Assert-Selector -Cmdlet $Cmdlet -Bound $Bound -Parameters 'ComponentID', 'Path', 'DisplayName', 'Name'
    $selection = New-Selection -Class (Get-SelectionClass -Cmdlet $Cmdlet -Bound $Bound) -Bound $Bound -Change
    Invoke-SelectionChange -Cmdlet $Cmdlet -Bound $Bound -Selection $selection -Enable:$Enable
}

# Refuses a change that no selector of these Parameters names: it would not
# be all that is meant.
function Assert-Selector {
    param($Cmdlet, [hashtable]$Bound, [string[]]$Parameters)
    foreach ($parameter in $Parameters) { if ($Bound.ContainsKey($parameter)) { return } }
    $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Id NoSelector -Category InvalidArgument -Target $null))
}

# Puts every path that a change's Selection names into one state (-Enable,
# else disabled).
function Invoke-SelectionChange {
    param($Cmdlet, [hashtable]$Bound, $Selection, [switch]$Enable)
    $listings = Get-SelectionListing -Cmdlet $Cmdlet -Session $Bound['Session'] -ThrottleLimit (Get-ThrottleLimit `
            -Bound $Bound) -Selection $Selection
    $steps = @(foreach ($computer in (Get-SessionComputer -Session $Bound['Session'])) {
            foreach ($one in @(Select-Listed -Cmdlet $Cmdlet -Listing $listings[$computer] -Selection $Selection)) {
                New-Object Ferrule.ChangeStep $one, $computer, ([bool]$Enable), $null
            }
        })
    Invoke-Change -Cmdlet $Cmdlet -Bound $Bound -Steps $steps -Listings $listings
}

# The end of a change command: the Rows gathered are read at once, each with
# the State wanted (else its own Enabled), and put into that state. With
# -Adapters (Disable and Enable), adapters of Get-NetAdapter from the
# pipeline name their paths instead, chosen among by the command's
# selectors; adapters and rows together, or selectors beside rows, change
# nothing.
function Complete-Change {
    param($Cmdlet, [hashtable]$Bound, [System.Collections.ArrayList]$Rows, $State, [switch]$Adapters)
    if ($Rows.Count -eq 0) { return }
    $named = @(if ($Adapters) { foreach ($row in $Rows) { $guid = [Ferrule.RowReader]::AdapterOf($row)
                if ($guid) { $guid } } })
    $selectors = 'ComponentID', 'Path', 'DisplayName'
    if ($named.Count -gt 0) {
        if ($named.Count -lt $Rows.Count) {
            $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Id InputMixed -Category InvalidArgument -Target $null))
        }
        Assert-Selector -Cmdlet $Cmdlet -Bound $Bound -Parameters $selectors
        $selection = New-Selection -Class Adapter -Bound $Bound -Change -Adapters $named
        Invoke-SelectionChange -Cmdlet $Cmdlet -Bound $Bound -Selection $selection -Enable:([bool]$State)
        return
    }
    foreach ($parameter in $selectors) {
        if (-not $Adapters -or -not $Bound.ContainsKey($parameter)) { continue }
        $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Id SelectorNeedsAdapters -Category InvalidArgument `
                    -Target $parameter))
    }
    $wanted = @((ConvertTo-Wanted -Cmdlet $Cmdlet -Items $Rows.ToArray() -State $State).Rows)
    if ($wanted.Count -eq 0) { return }
    Invoke-Wanted -Cmdlet $Cmdlet -Bound $Bound -Wanted $wanted
}
