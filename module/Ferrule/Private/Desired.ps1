# Desired state: one baseline, its rules read as Set-FerruleBinding and
# Compare-FerruleBinding read rows, held to this machine. The DSC command
# resource Ferrule/BindingList (DSC/ferrule.dsc.resource.json, through
# Invoke-DesiredCommand) and the class resource FerruleBindingList
# (Ferrule.psm1) both call Invoke-DesiredState, which selects, changes and
# reports through the module's own commands alone: the state and its drift by
# Compare-FerruleBinding, a change by Set-FerruleBinding, what a change would
# do by its plan (Resolve-Step and Set-ChangeVerdict, without the runs), and
# the machine's paths by Get-FerruleBinding.

# The reasons' codes, as Azure Machine Configuration reads them.
$script:ReasonPrefix = 'FerruleBindingList:FerruleBindingList:'

# What an operation found. Status: 0 done; 2 the baseline refused before any
# change (a row that cannot be read, a rule or a saved row that names
# nothing), so nothing was changed; 3 the bindings could not be read, so
# nothing was changed; 4 a change not made, or one that would not be. Paths:
# the paths that the rules name, with their states (after a set, as they
# would be after a what-if); Rules: export's; Reasons: why the baseline is not
# in its state; Messages: each error, warning and note, in order.
function New-DesiredResult {
    param([string]$Operation)
    [pscustomobject]@{ Operation = $Operation; Status = 0; Paths = @(); Rules = @(); InDesiredState = $false
        Reasons = (New-Object System.Collections.ArrayList); RestartRequired = $false
        Messages = (New-Object System.Collections.ArrayList)
    }
}

function Add-DesiredMessage {
    param($Result, [ValidateSet('Error', 'Warning', 'Information')] [string]$Level, [string]$Text)
    [void]$Result.Messages.Add([pscustomobject]@{ Level = $Level; Text = $Text })
}

# A path as the messages name it: the adapter's connection name, or the
# component, before the path.
function Get-DesiredLabel {
    param($Path)
    $owner = $(if ($Path.Name) { $Path.Name } else { $Path.ComponentID })
    "${owner}: $($Path.Path)"
}

function Get-DesiredWord {
    param([bool]$Enabled)
    $(if ($Enabled) { 'enabled' } else { 'disabled' })
}

# Get, Test, Set, WhatIf or Export of one baseline (Rules: rows, as
# Set-FerruleBinding reads them) on this machine; where the Run of a
# configuration is known, its paths are claimed for Instance (shown as
# Shown), and refused where another instance of the run named one of them
# (Register-DesiredClaim). Set and WhatIf change
# nothing where a rule or a saved row names nothing (a typo in an exception
# would hand its paths to the rule before it) or where what the rules name
# could not all be read; Set runs only the paths whose state differs, with
# the module's checks and no question asked, and reports the state after.
function Invoke-DesiredState {
    [CmdletBinding()]
    param([Parameter(Mandatory = $true)] [ValidateSet('Get', 'Test', 'Set', 'WhatIf', 'Export')] [string]$Operation,
        [object[]]$Rules = @(), [string]$Run, [string]$Instance, [string]$Shown)
    $result = New-DesiredResult -Operation $Operation
    if ($Operation -eq 'Export') {
        Export-DesiredState -Result $result
        return $result
    }
    $drift = Get-DesiredDrift -Result $result -Rules $Rules
    if ($result.Status -ne 0) { return $result }
    Add-DesiredDrift -Result $result -Drift $drift
    Register-DesiredClaim -Result $result -Run $Run -Instance $Instance -Shown $Shown
    if ($result.Status -ne 0 -or 'Set', 'WhatIf' -notcontains $Operation) { return $result }
    $unnamed = @(foreach ($reason in $result.Reasons) { if ($reason.Code -notlike '*PathNotInState') { $reason } })
    if ($unnamed.Count -gt 0) {
        foreach ($reason in $unnamed) {
            $text = Get-Message -Id DesiredNotApplied -Values $reason.Phrase
            Add-DesiredMessage -Result $result -Level Error -Text $text
        }
        $result.Status = 2
        return $result
    }
    $changed = @(foreach ($one in $drift) { if ($one.Drift -eq 'Changed') { $one } })
    if ($changed.Count -eq 0) {
        Add-DesiredMessage -Result $result -Level Information -Text (Get-Message -Id DesiredInState)
        return $result
    }
    if ($Operation -eq 'Set') { Set-DesiredState -Result $result -Rules $Rules -Changed $changed }
    else { Test-DesiredPlan -Result $result -Rules $Rules -Drift $drift }
    $result
}

# The errors and warnings that a command of the module gave, as the Result's
# messages; Status, where there was an error: 2 where one is a row that
# cannot be read, else Failure.
function Add-DesiredRecord {
    param($Result, [object[]]$Errors, [object[]]$Warnings, [int]$Failure)
    foreach ($warning in $Warnings) { Add-DesiredMessage -Result $Result -Level Warning -Text "$($warning.Message)" }
    foreach ($record in $Errors) {
        $text = $(if ($record.Exception) { $record.Exception.Message } else { "$record" })
        Add-DesiredMessage -Result $Result -Level Error -Text $text
        $category = $(if ($record.CategoryInfo) { "$($record.CategoryInfo.Category)" } else { '' })
        if ($category -eq 'InvalidArgument') { $Result.Status = 2 }
        elseif ($Result.Status -eq 0) { $Result.Status = $Failure }
    }
}

# How the paths that the Rules name stand (Compare-FerruleBinding, with the
# paths in their state and the optional rules that name nothing); a failure
# sets the Result's Status.
function Get-DesiredDrift {
    param($Result, [object[]]$Rules)
    $failed = $null
    $warned = $null
    $compareArguments = @{ Baseline = $Rules; IncludeEqual = $true; ErrorAction = 'SilentlyContinue'
        ErrorVariable = 'failed'; WarningAction = 'SilentlyContinue'; WarningVariable = 'warned'
    }
    $drift = @(Compare-FerruleBinding @compareArguments)
    Add-DesiredRecord -Result $Result -Errors @($failed) -Warnings @($warned) -Failure 3
    if ($Result.Status -eq 3) {
        Add-DesiredMessage -Result $Result -Level Error -Text (Get-Message -Id DesiredUnreadable)
    }
    , $drift
}

# The Result's paths (those the rules name, as found), whether it is in its
# state, and a reason for each path off its state, each saved row and each
# rule (but an optional one) that names nothing.
function Add-DesiredDrift {
    param($Result, [object[]]$Drift)
    $Result.Reasons.Clear()
    $paths = New-Object System.Collections.ArrayList
    foreach ($one in $Drift) {
        $phrase = $null
        switch ($one.Drift) {
            'Changed' {
                $phrase = Get-Message -Id DesiredPathOff -Values (Get-DesiredLabel -Path $one),
                    (Get-DesiredWord -Enabled $one.Found), (Get-DesiredWord -Enabled $one.Wanted)
                $code = 'PathNotInState'
            }
            'Missing' {
                $phrase = Get-Message -Id DesiredRowMissing -Values "$($one.ComponentID): $($one.Path)", $one.Class
                $code = 'SavedRowMissing'
            }
            'Unmatched' {
                if (-not $one.Optional) {
                    $phrase = Get-Message -Id DesiredRuleUnmatched -Values $one.Class, (Get-RowText -Want $one)
                    $code = 'RuleNamesNothing'
                }
            }
        }
        if ('Changed', 'Equal' -contains $one.Drift) {
            [void]$paths.Add([pscustomobject]@{ Class = $one.Class; ComponentID = $one.ComponentID; Name = $one.Name
                    Path = $one.Path; Enabled = [bool]$one.Found; Wanted = [bool]$one.Wanted
                })
        }
        if (-not $phrase) { continue }
        [void]$Result.Reasons.Add([pscustomobject]@{ Code = $script:ReasonPrefix + $code; Phrase = $phrase })
    }
    $Result.Paths = $paths.ToArray()
    $Result.InDesiredState = $Result.Reasons.Count -eq 0
}

# Set: Set-FerruleBinding puts the Rules' paths in their states (only those
# whose state differs run, with the guard and every other check; DSC asks no
# one), then the state after is read again. Each path that was Changed is
# said made or not made; any not made, or any error, is Status 4.
function Set-DesiredState {
    param($Result, [object[]]$Rules, [object[]]$Changed)
    $failed = $null
    $warned = $null
    $setArguments = @{ InputObject = $Rules; Confirm = $false; PassThru = $true; ErrorAction = 'SilentlyContinue'
        ErrorVariable = 'failed'; WarningAction = 'SilentlyContinue'; WarningVariable = 'warned'
    }
    $made = @()
    try {
        $made = @(Set-FerruleBinding @setArguments)
    } catch {
        $failed = @($failed) + @($_)
    }
    Add-DesiredRecord -Result $Result -Errors @($failed) -Warnings @($warned) -Failure 4
    if ($Result.Status -ne 0) { $Result.Status = 4 }
    $Result.RestartRequired = @(foreach ($one in $made) { if ($one.RebootRequired) { $one } }).Count -gt 0
    $after = New-DesiredResult -Operation Get
    $drift = Get-DesiredDrift -Result $after -Rules $Rules
    if ($after.Status -ne 0) {
        foreach ($message in $after.Messages) { [void]$Result.Messages.Add($message) }
        Add-DesiredMessage -Result $Result -Level Error -Text (Get-Message -Id DesiredAfterUnread)
        $Result.Status = 4
        return
    }
    Add-DesiredDrift -Result $Result -Drift $drift
    if (-not $Result.InDesiredState) { $Result.Status = 4 }
    Write-DesiredOutcome -Result $Result -Changed $Changed
}

# Each Changed path, made (a note where the set succeeded, a warning beside
# its errors where it did not) or not made (an error), by the state after.
function Write-DesiredOutcome {
    param($Result, [object[]]$Changed)
    $after = @{}
    foreach ($one in $Result.Paths) { $after["$($one.Class)`n$($one.Path)"] = $one }
    $level = $(if ($Result.Status -eq 0) { 'Information' } else { 'Warning' })
    foreach ($one in $Changed) {
        $now = $after["$($one.Class)`n$($one.Path)"]
        $label = Get-DesiredLabel -Path $one
        $word = Get-DesiredWord -Enabled $one.Wanted
        if ($now -and $now.Enabled -eq $one.Wanted) {
            Add-DesiredMessage -Result $Result -Level $level -Text (Get-Message -Id DesiredMade -Values $label, $word)
        } else {
            Add-DesiredMessage -Result $Result -Level Error -Text (Get-Message -Id DesiredNotMade -Values $label, $word)
        }
    }
}

# WhatIf: the Result's paths as a set would leave them, by the plan of a
# change of the Rules (Get-DesiredPlan): a path that the plan would change
# in its wanted state, any other as it is. A change that the plan refuses
# (the guard, a path ferrule cannot tell from another) is its error, and
# Status 4: the set would not put the baseline in its state.
function Test-DesiredPlan {
    param($Result, [object[]]$Rules, [object[]]$Drift)
    $failed = $null
    $warned = $null
    $steps = @(Get-DesiredPlan -Rules $Rules -ErrorAction SilentlyContinue -ErrorVariable failed `
            -WarningAction SilentlyContinue -WarningVariable warned)
    Add-DesiredRecord -Result $Result -Errors @($failed) -Warnings @($warned) -Failure 4
    if ($Result.Status -ne 0) { $Result.Status = 4 }
    $planned = @{}
    foreach ($step in $steps) {
        if ($step.Verdict -eq 'Change') { $planned["$($step.Binding.Class)`n$($step.Binding.Path)"] = $step }
    }
    foreach ($one in $Result.Paths) {
        if (-not $planned.ContainsKey("$($one.Class)`n$($one.Path)")) { continue }
        $one.Enabled = $one.Wanted
        $word = Get-DesiredWord -Enabled $one.Wanted
        $text = Get-Message -Id DesiredWouldChange -Values (Get-DesiredLabel -Path $one), $word
        Add-DesiredMessage -Result $Result -Level Information -Text $text
    }
}

# The plan of a change of the Rules on this machine, as Set-FerruleBinding
# makes it (Invoke-Wanted, then Set-ChangeVerdict), without the runs: the
# steps, each with its Verdict (Change, InState, or refused with an error).
function Get-DesiredPlan {
    [CmdletBinding()]
    param([object[]]$Rules)
    $wanted = @((ConvertTo-Wanted -Cmdlet $PSCmdlet -Items $Rules -State $null).Rows)
    if ($wanted.Count -eq 0) { return }
    $classes = Get-BaselineClass -Wanted $wanted
    $listings = Get-Listing -Cmdlet $PSCmdlet -Session $null -ThrottleLimit $script:DefaultThrottleLimit `
        -Computers @('') -Classes $classes
    $routes = @(Get-RowRoute -Cmdlet $PSCmdlet -Session $null -Wanted $wanted -Identities $listings)
    $steps = [Ferrule.ChangeStep[]]@(Resolve-Step -Cmdlet $PSCmdlet -Listing $listings[''] -Routes $routes `
            -Classes $classes)
    Set-ChangeVerdict -Cmdlet $PSCmdlet -Bound @{} -Steps $steps -Listings $listings
    $steps
}

# Export: every path of this machine (Get-FerruleBinding, each class), and
# one rule for each that another machine with the same connection names
# takes: on adapters Class, ComponentID and the connection name, never the
# adapter's GUID (an adapter without a name, or with * or ? in it, gives no
# rule, with a warning); on the other classes the path itself.
function Export-DesiredState {
    param($Result)
    $paths = New-Object System.Collections.ArrayList
    $rules = New-Object System.Collections.ArrayList
    foreach ($class in @($script:ClassWords.Keys)) {
        $failed = $null
        $warned = $null
        $bindings = @(Get-FerruleBinding -Class $class -ErrorAction SilentlyContinue -ErrorVariable failed `
                -WarningAction SilentlyContinue -WarningVariable warned)
        Add-DesiredRecord -Result $Result -Errors @($failed) -Warnings @($warned) -Failure 3
        foreach ($one in $bindings) {
            $path = [pscustomobject]@{ Class = $one.Class; ComponentID = $one.ComponentID; Name = $one.Name
                Path = $one.Path; Enabled = [bool]$one.Enabled; Wanted = [bool]$one.Enabled
            }
            [void]$paths.Add($path)
            $rule = [ordered]@{ Class = $one.Class; ComponentID = $one.ComponentID }
            if ($one.Class -ne 'Adapter') { $rule.Path = $one.Path }
            elseif ($one.Name -and -not [Ferrule.RowReader]::HasWildcard($one.Name)) { $rule.Name = $one.Name }
            else {
                $text = Get-Message -Id DesiredExportSkipped -Values (Get-DesiredLabel -Path $path)
                Add-DesiredMessage -Result $Result -Level Warning -Text $text
                continue
            }
            $rule.Enabled = [bool]$one.Enabled
            [void]$rules.Add([pscustomobject]$rule)
        }
    }
    $Result.Paths = $paths.ToArray()
    $Result.Rules = $rules.ToArray()
    $Result.InDesiredState = $Result.Status -eq 0
}

# The run of a configuration that this process is part of, as the ID and
# start of a process: DSC v3 runs each operation of each instance as a child
# of one dsc process (Parent: the command resource's), and a class resource
# runs inside the process of its run. '' where it cannot be told, and then
# nothing is claimed. (Windows PowerShell 5.1's processes have no Parent.)
function Get-DesiredRun {
    param([switch]$Parent)
    try {
        $process = Get-Process -Id $PID
        if ($Parent -and $process.PSObject.Properties['Parent']) { $process = $process.Parent }
        elseif ($Parent) {
            $id = (Get-CimInstance -ClassName Win32_Process -Filter "ProcessId = $PID").ParentProcessId
            $process = Get-Process -Id $id
        }
        if (-not $process) { return '' }
        "$($process.Id) $($process.StartTime.ToUniversalTime().Ticks)"
    } catch {
        ''
    }
}

# One instance is one baseline: two instances of one configuration that
# name a path in common would each undo the other. Each run's claims are a
# file of the temp folder, named for its process's ID: the process's start
# (a file of an earlier process of that ID is begun anew; a start read twice
# on Linux may differ by milliseconds) and, by instance, the keys of the
# paths it named and when. A path of the Result that another instance of the
# Run claimed in the last hour (a process of a class resource may serve one
# configuration after another) is an error, and Status 2; else the Result's
# paths are claimed.
function Register-DesiredClaim {
    param($Result, [string]$Run, [string]$Instance, [string]$Shown)
    if (-not $Run -or -not $Instance) { return }
    $id, $start = $Run -split ' ', 2
    $file = Join-Path ([IO.Path]::GetTempPath()) ('ferrule-desired-' + (Get-DesiredHash -Text $id) + '.json')
    $lock = Open-DesiredLock -Path "$file.lock"
    try {
        $claims = Read-DesiredClaim -Path $file -Start ([long]$start)
        $now = [DateTime]::UtcNow.Ticks
        $key = Get-DesiredHash -Text $Instance
        foreach ($other in @($claims.Keys)) {
            $claim = $claims[$other]
            if ($other -eq $key -or $now - [long]$claim.Time -gt [TimeSpan]::FromHours(1).Ticks) { continue }
            foreach ($path in @($Result.Paths)) {
                if (@($claim.Paths) -notcontains "$($path.Class) $($path.Path)") { continue }
                $text = Get-Message -Id DesiredPathsShared -Values (Get-DesiredLabel -Path $path), $claim.Shown
                Add-DesiredMessage -Result $Result -Level Error -Text $text
                $Result.Status = 2
            }
        }
        if ($Result.Status -ne 0) { return }
        $mine = @(foreach ($path in $Result.Paths) { "$($path.Class) $($path.Path)" })
        $claims[$key] = [ordered]@{ Time = $now; Shown = $Shown; Paths = $mine }
        $text = ConvertTo-Json -InputObject ([ordered]@{ Start = [long]$start; Claims = $claims }) -Depth 5 -Compress
        [IO.File]::WriteAllText($file, $text)
    } finally {
        $lock.Dispose()
    }
}

# A run's claims, by instance: none where the file is of another process.
function Read-DesiredClaim {
    param([string]$Path, [long]$Start)
    $claims = [ordered]@{}
    if (-not [IO.File]::Exists($Path)) { return $claims }
    $read = ConvertFrom-Json -InputObject ([IO.File]::ReadAllText($Path))
    if ([Math]::Abs([long]$read.Start - $Start) -gt [TimeSpan]::TicksPerSecond) { return $claims }
    foreach ($one in $read.Claims.PSObject.Properties) { $claims[$one.Name] = $one.Value }
    $claims
}

function Get-DesiredHash {
    param([string]$Text)
    $sha = [Security.Cryptography.SHA256]::Create()
    try {
        $bytes = $sha.ComputeHash([Text.Encoding]::UTF8.GetBytes($Text))
    } finally {
        $sha.Dispose()
    }
    ([BitConverter]::ToString($bytes) -replace '-', '').Substring(0, 32)
}

# The run's claims are read and written by one instance at a time: a lock
# file held open alone, waited for up to ten seconds.
function Open-DesiredLock {
    param([string]$Path)
    for ($i = 0; ; $i++) {
        try {
            return [IO.File]::Open($Path, 'OpenOrCreate', 'ReadWrite', 'None')
        } catch [IO.IOException] {
            if ($i -ge 200) { throw }
            Start-Sleep -Milliseconds 50
        }
    }
}
