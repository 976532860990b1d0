# Ferrule: the binding paths of a Windows machine's network components as
# objects. Every command runs ferrule.exe, reads its lines and exit status, and
# turns its failures into errors; nothing here touches the configuration itself.
# Runs on Windows PowerShell 5.1 and on PowerShell 7.
Set-StrictMode -Version 2.0

# Ferrule.Binding, a class of its own: a listing can hold tens of thousands of
# paths, and a compiled class is made several times faster than a custom object.
if (-not ('Ferrule.Binding' -as [type])) {
    Add-Type -TypeDefinition @'
namespace Ferrule {
    // One binding path of a network component, in the state ferrule left it.
    public class Binding {
        public Binding(string componentClass, string componentId, string displayName, string path, bool enabled,
                       string name) {
            Class = componentClass; ComponentID = componentId; DisplayName = displayName; Path = path;
            Enabled = enabled; Name = name;
        }
        public string Class { get; set; }
        public string ComponentID { get; set; }
        public string DisplayName { get; set; }
        public string Path { get; set; }
        public bool Enabled { get; set; }
        public string Name { get; set; }
        public bool RebootRequired { get; set; }
        public Binding Clone() { return (Binding)MemberwiseClone(); }
    }
}
'@
}

# The command's class names and ferrule's words for them.
$script:ClassWords = [ordered]@{ Adapter = 'dev'; Client = 'client'; Protocol = 'proto'; Service = 'service' }

# The exit status of a ferrule that was asked to stop: STATUS_CONTROL_C_EXIT on
# Windows, 58 (its Unix status) under Wine, 128 plus the signal on the stand-in.
$script:StoppedStatuses = @(-1073741510, 58, 130, 143, 129)

# A path's line: its token, then its state, or its states before and after.
$script:PathLine = [regex]'^    (.*): (?:[01]->)?([01])$'

# NETCFG_S_REBOOT: the change is made, and a restart completes it.
$script:RebootCode = '4a020'

#region Running ferrule, here or on other machines

# The ferrule to run: FERRULE_EXE's, else the package's own for a machine of
# this architecture (this machine's, by default).
function Get-FerrulePath {
    param([bool]$Is64Bit = [Environment]::Is64BitOperatingSystem)
    if ($env:FERRULE_EXE) { return $env:FERRULE_EXE }
    $architecture = 'x86'
    if ($Is64Bit) { $architecture = 'x64' }
    Join-Path (Join-Path $PSScriptRoot $architecture) 'ferrule.exe'
}

# One argument as the C runtime splits a command line: quoted when it is empty
# or holds a space or a quotation mark, with the backslashes before a quotation
# mark doubled.
function ConvertTo-FerruleArgument {
    param([string]$Word)
    if ($Word.Length -gt 0 -and $Word -notmatch '[\s"]') { return $Word }
    $quoted = [regex]::Replace($Word, '(\\*)"', '$1$1\"')
    $quoted = [regex]::Replace($quoted, '(\\+)$', '$1$1')
    '"' + $quoted + '"'
}

function ConvertTo-FerruleCommandLine {
    param([string[]]$ArgumentList)
    (@($ArgumentList | ForEach-Object { ConvertTo-FerruleArgument $_ })) -join ' '
}

# Runs a ferrule once for each command line, in turn, and gives each run's
# exit status and lines; after a run whose status is one of StopAt (a stop
# asked), none more. On Windows ferrule writes redirected output in the
# console's output code page: for the runs, that is made UTF-8, so that no
# name loses a character the console's own code page lacks. Without a console
# (a remote session has none) ferrule writes the OEM code page, which is read
# so. It runs here and, sent as text, on other machines: it uses nothing of
# the module's.
$script:RunFerrule = {
    param([string]$Path, [string[]]$CommandLines, [int[]]$StopAt)
    $encoding = New-Object System.Text.UTF8Encoding $false
    $restore = $null
    if ([Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT) {
        try {
            $restore = [Console]::OutputEncoding
            [Console]::OutputEncoding = $encoding
        } catch {
            $restore = $null
            $encoding = [Text.Encoding]::GetEncoding([Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
        }
    }
    $runs = New-Object System.Collections.ArrayList
    try {
        foreach ($commandLine in $CommandLines) {
            $info = New-Object System.Diagnostics.ProcessStartInfo
            $info.FileName = $Path
            $info.Arguments = $commandLine
            $info.UseShellExecute = $false
            $info.RedirectStandardOutput = $true
            $info.StandardOutputEncoding = $encoding
            $process = [Diagnostics.Process]::Start($info)
            $text = $process.StandardOutput.ReadToEnd()
            $process.WaitForExit()
            $status = $process.ExitCode
            $process.Dispose()
            $lines = @($text -split "`r?`n")
            if ($lines.Count -gt 0 -and $lines[-1] -eq '') { $lines = @($lines | Select-Object -First ($lines.Count - 1)) }
            [void]$runs.Add([pscustomobject]@{ Status = $status; Lines = $lines })
            if ($StopAt -contains $status) { break }
        }
    } finally {
        if ($null -ne $restore) { [Console]::OutputEncoding = $restore }
    }
    , $runs.ToArray()
}

# The connection names of a machine's adapters, by interface GUID: from
# Get-NetAdapter (Windows 8 and later), else from Win32_NetworkAdapter
# (Windows 7, Server 2008 R2). Empty where neither is there. It runs here and
# on other machines.
$script:AdapterNames = {
    $names = @{}
    if (Get-Command Get-NetAdapter -ErrorAction SilentlyContinue) {
        foreach ($adapter in @(Get-NetAdapter -IncludeHidden -ErrorAction SilentlyContinue)) {
            if ($adapter.InterfaceGuid) { $names[[string]$adapter.InterfaceGuid] = [string]$adapter.Name }
        }
    } elseif (Get-Command Get-CimInstance -ErrorAction SilentlyContinue) {
        foreach ($adapter in @(Get-CimInstance -ClassName Win32_NetworkAdapter -ErrorAction SilentlyContinue)) {
            if ($adapter.GUID -and $adapter.NetConnectionID) { $names[[string]$adapter.GUID] = [string]$adapter.NetConnectionID }
        }
    }
    $names
}

# What runs on another machine, one step at a time. The exe lives in a folder
# of the module's own there: FERRULE_HOME where the machine's environment sets
# it, else, on Windows, Ferrule under Program Files (which only administrators
# can write), elsewhere ~/.ferrule.
#   Probe: the machine's architecture, and the SHA-256 of the exe there.
#   Copy: writes the exe's bytes there, then puts them in its place.
#   Run: runs each command line in turn, but only an exe of this SHA-256, and
#        none after a run that was stopped (StopAt); and gives the adapters' names.
$script:OnMachine = {
    param([string]$Step, [string]$Name, [string]$Hash, $Payload, [string]$RunText, [string]$NamesText, [int[]]$StopAt)
    $windows = [Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT
    $folder = $env:FERRULE_HOME
    if (-not $folder) {
        if ($windows) { $folder = Join-Path $env:ProgramFiles 'Ferrule' } else { $folder = Join-Path $HOME '.ferrule' }
    }
    $exe = Join-Path $folder $Name
    $there = $null
    if ($Step -ne 'Copy' -and (Test-Path -LiteralPath $exe)) { $there = (Get-FileHash -Algorithm SHA256 -LiteralPath $exe).Hash }
    if ($Step -eq 'Probe') {
        return [pscustomobject]@{ Is64Bit = [Environment]::Is64BitOperatingSystem; Hash = $there; Path = $exe }
    }
    if ($Step -eq 'Copy') {
        New-Item -ItemType Directory -Force -Path $folder | Out-Null
        [IO.File]::WriteAllBytes("$exe.new", [byte[]]$Payload)
        if (-not $windows) { chmod 755 "$exe.new" }
        Move-Item -Force -LiteralPath "$exe.new" -Destination $exe
        return
    }
    if ($there -ne $Hash) {
        return [pscustomobject]@{ Refused = "$exe is not the ferrule that was copied there (its SHA-256 is not $Hash): not run" }
    }
    $runs = & ([scriptblock]::Create($RunText)) $exe ([string[]]$Payload) $StopAt
    $names = @{}
    if ($NamesText) { $names = & ([scriptblock]::Create($NamesText)) }
    [pscustomobject]@{ Refused = $null; Runs = $runs; AdapterNames = $names }
}

# Runs the step of OnMachine on each session at once, at most ThrottleLimit at
# a time, with that session's arguments, as Invoke-Command runs it. Returns
# each machine's answer by computer name; a machine that fails is an error
# that names it, and the others go on.
function Invoke-FerruleFanOut {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [scriptblock]$ArgumentsFor)
    $answers = @{}
    $queue = New-Object System.Collections.Queue
    foreach ($one in $Session) { $queue.Enqueue($one) }
    $running = @{}
    while ($queue.Count -gt 0 -or $running.Count -gt 0) {
        while ($queue.Count -gt 0 -and $running.Count -lt [Math]::Max(1, $ThrottleLimit)) {
            $one = $queue.Dequeue()
            $job = Invoke-Command -Session $one -ScriptBlock $script:OnMachine -ArgumentList (& $ArgumentsFor $one) -AsJob
            $running[$job.Id] = $one
        }
        $finished = Wait-Job -Id @($running.Keys) -Any
        $one = $running[$finished.Id]
        $running.Remove($finished.Id)
        # The job's own errors are read from it, not received: received, they
        # would also reach the caller's error variable, beside the one here.
        $answer = Receive-Job -Job $finished -Keep -ErrorAction Ignore
        $problems = @($finished.ChildJobs | ForEach-Object { $_.Error } | Where-Object { $_ })
        $reason = $finished.ChildJobs[0].JobStateInfo.Reason
        Remove-Job -Job $finished -Force -WhatIf:$false -Confirm:$false
        if ($problems.Count -gt 0 -or $reason) {
            $message = $(if ($problems.Count -gt 0) { $problems[0].Exception.Message } else { $reason.Message })
            $Cmdlet.WriteError((New-FerruleErrorRecord $message 'ConnectionError' $one.ComputerName $one.ComputerName))
        } else {
            $answers[$one.ComputerName] = $answer
        }
    }
    $answers
}

# Copies the exe's bytes to the machines of these sessions.
function Copy-FerruleToSession {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string]$Name, [string]$Hash, [byte[]]$Bytes)
    Invoke-FerruleFanOut $Cmdlet $Session $ThrottleLimit { param($one) , @('Copy', $Name, $Hash, $Bytes) } | Out-Null
}

# Runs each machine's command lines: Work holds them by computer name (''
# for this machine). Returns, by computer name, each machine's runs and, with
# WantNames, its adapters' connection names. On other machines the exe is
# first copied where it is missing or another, and then checked by its SHA-256
# before it runs.
function Invoke-FerruleRun {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [hashtable]$Work, [bool]$WantNames)
    $path = Get-FerrulePath
    if (-not (Test-Path -LiteralPath $path)) {
        $Cmdlet.ThrowTerminatingError((New-FerruleErrorRecord "ferrule is not at $path" 'ObjectNotFound' $path))
    }
    $machines = @{}
    if (-not $Session) {
        $runs = & $script:RunFerrule $path ([string[]]$Work['']) $script:StoppedStatuses
        $names = @{}
        if ($WantNames) { $names = & $script:AdapterNames }
        $machines[''] = [pscustomobject]@{ Runs = $runs; AdapterNames = $names }
        return $machines
    }
    $sessions = @($Session | Where-Object { $Work.ContainsKey($_.ComputerName) })
    if ($sessions.Count -eq 0) { return $machines }
    $name = Split-Path -Leaf $path
    $probes = Invoke-FerruleFanOut $Cmdlet $sessions $ThrottleLimit { param($one) , @('Probe', $name) }
    $ready = @($sessions | Where-Object { $probes.ContainsKey($_.ComputerName) })
    # Each machine's exe is the package's for its architecture; it is copied
    # where the one there has another SHA-256, or none.
    $hashes = @{}
    $exeFor = @{}
    foreach ($one in $ready) {
        $exe = Get-FerrulePath ([bool]$probes[$one.ComputerName].Is64Bit)
        if (-not $hashes.ContainsKey($exe)) { $hashes[$exe] = (Get-FileHash -Algorithm SHA256 -LiteralPath $exe).Hash }
        $exeFor[$one.ComputerName] = $exe
    }
    foreach ($exe in @($hashes.Keys)) {
        $missing = @($ready | Where-Object { $exeFor[$_.ComputerName] -eq $exe -and $probes[$_.ComputerName].Hash -ne $hashes[$exe] })
        foreach ($one in $missing) { $Cmdlet.WriteVerbose("$($one.ComputerName): copying ferrule to $($probes[$one.ComputerName].Path)") }
        if ($missing.Count -gt 0) {
            Copy-FerruleToSession $Cmdlet $missing $ThrottleLimit $name $hashes[$exe] ([IO.File]::ReadAllBytes($exe))
        }
    }
    $namesText = ''
    if ($WantNames) { $namesText = $script:AdapterNames.ToString() }
    $runText = $script:RunFerrule.ToString()
    $answers = Invoke-FerruleFanOut $Cmdlet $ready $ThrottleLimit {
        param($one)
        , @('Run', $name, $hashes[$exeFor[$one.ComputerName]], $Work[$one.ComputerName], $runText, $namesText,
            $script:StoppedStatuses)
    }
    foreach ($computer in $answers.Keys) {
        $answer = $answers[$computer]
        if ($answer.Refused) {
            $Cmdlet.WriteError((New-FerruleErrorRecord "${computer}: $($answer.Refused)" 'SecurityError' $computer))
            continue
        }
        $names = @{}
        if ($answer.AdapterNames) { foreach ($key in $answer.AdapterNames.Keys) { $names[$key] = $answer.AdapterNames[$key] } }
        $machines[$computer] = [pscustomobject]@{ Runs = @($answer.Runs); AdapterNames = $names }
    }
    $machines
}

# The machines a command works on: this one (''), or those of the sessions.
function Get-FerruleComputer {
    param([object[]]$Session)
    if (-not $Session) { return , @('') }
    , @($Session | ForEach-Object { $_.ComputerName })
}

#endregion

#region Errors

# An error whose message names the machine, when it is another.
function New-FerruleErrorRecord {
    param([string]$Message, [string]$Category, $Target, [string]$Computer = '')
    if ($Computer) { $Message = "${Computer}: $Message" }
    $exception = New-Object System.InvalidOperationException $Message
    New-Object System.Management.Automation.ErrorRecord $exception, "Ferrule.$Category",
        ([System.Management.Automation.ErrorCategory]$Category), $Target
}

# A run that ended otherwise than with its lines: a stop here ends the
# pipeline, a stop on another machine is an error for that machine; refused
# arguments are an error.
function Assert-FerruleRun {
    param($Cmdlet, $Run, $Target, [string]$Computer)
    if ($script:StoppedStatuses -contains $Run.Status) {
        $record = New-FerruleErrorRecord "ferrule was stopped (exit status $($Run.Status))" 'OperationStopped' $Target $Computer
        if (-not $Computer) { $Cmdlet.ThrowTerminatingError($record) }
        $Cmdlet.WriteError($record)
        return $false
    }
    if ($Run.Status -eq 255) {
        $Cmdlet.WriteError((New-FerruleErrorRecord "ferrule refused its arguments: $($Run.Lines -join ' ')" `
                    'InvalidArgument' $Target $Computer))
        return $false
    }
    $true
}

function Write-FerruleFailure {
    param($Cmdlet, $Failure, $Target, [string]$Computer)
    $Cmdlet.WriteError((New-FerruleErrorRecord "ferrule: $($Failure.Line)" $Failure.Category $Target $Computer))
}

#endregion

#region Reading ferrule's lines

# What one failure line means, as an error category.
function Get-FerruleFailureCategory {
    param([string]$Call, [string]$Code)
    if ($Code -eq '80070005') { return 'PermissionDenied' }
    switch -Regex ($Call) {
        '^lock->AcquireWriteLock\(\)$' { return 'ResourceBusy' }
        '^bindingPath->Enable' { return 'WriteError' }
        '^(netCfgComp->QueryInterface|bindings->EnumBindingPaths)\(\)$' { return 'ReadError' }
        '^netCfg->Uninitialize\(\)$' { return 'CloseError' }
    }
    'OpenError'
}

function New-FerruleFailure {
    param([string]$Line, [string]$Category, [string]$Code, [string]$ComponentID)
    [pscustomobject]@{ Line = $Line; Category = $Category; Code = $Code; ComponentID = $ComponentID }
}

# Reads one run's lines: the paths as Ferrule.Binding objects, each in the
# state it is left in, and the failures. A path line is "    TOKEN: 1" in a
# listing, "    TOKEN: 1->0" in a change; a heading is "BINDNAME (DISPLAY
# NAME)"; every line that names a failed call ends "returned CODE". Adapters
# get their connection names from AdapterNames. (The objects are made here,
# not by a function a path, which would cost more than the object.)
function Read-FerruleOutput {
    param([string[]]$Lines, [string]$Class, [hashtable]$AdapterNames = @{})
    $paths = New-Object System.Collections.ArrayList
    $failures = New-Object System.Collections.ArrayList
    $applied = @{}
    $componentId = $null
    $displayName = $null
    $name = $null
    foreach ($line in $Lines) {
        $path = $script:PathLine.Match($line)
        if ($path.Success) {
            [void]$paths.Add([Ferrule.Binding]::new($Class, $componentId, $displayName, $path.Groups[1].Value,
                    ($path.Groups[2].Value -eq '1'), $name))
        } elseif ($line -eq 'Applying changes ... success') {
            $applied[$componentId] = ''
        } elseif ($line -match '^Applying changes \.\.\. failed - error code ([0-9a-f]+)$') {
            # A success code (severity bit clear), 4a020 among them, is applied.
            $code = $Matches[1]
            if (([Convert]::ToInt64($code, 16) -band 0x80000000L) -eq 0) {
                $applied[$componentId] = $code
            } else {
                [void]$failures.Add((New-FerruleFailure $line 'WriteError' $code $componentId))
            }
        } elseif ($line -match '^(.+) returned ([0-9a-f]+)$') {
            $category = Get-FerruleFailureCategory $Matches[1] $Matches[2]
            [void]$failures.Add((New-FerruleFailure $line $category $Matches[2] $componentId))
        } elseif ($line -match '^(.*?) \((.*)\)$') {
            $componentId = $Matches[1]
            $displayName = $Matches[2]
            $name = $AdapterNames[$componentId]
        } else {
            [void]$failures.Add((New-FerruleFailure $line 'NotSpecified' '' $componentId))
        }
    }
    [pscustomobject]@{ Paths = $paths; Failures = $failures; Applied = $applied }
}

#endregion

#region Selecting bindings

function Test-FerruleWildcard {
    param([string]$Value)
    [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($Value)
}

# Whether values are one value without wildcards.
function Test-FerruleLiteral {
    param([string[]]$Values)
    $null -ne $Values -and $Values.Count -eq 1 -and -not (Test-FerruleWildcard $Values[0])
}

function Test-FerruleLike {
    param([string]$Value, [string[]]$Patterns)
    foreach ($pattern in $Patterns) {
        if ($Value -like $pattern) { return $true }
    }
    $false
}

# The words of one listing: ferrule compares a single value without wildcards
# itself (as Windows compares names); anything else is filtered here.
function Get-FerruleListingArgument {
    param([string]$Class, [string[]]$ComponentID, [string[]]$Path)
    $arguments = @('class', $script:ClassWords[$Class])
    if (Test-FerruleLiteral $ComponentID) { $arguments += 'comp', $ComponentID[0] }
    if (Test-FerruleLiteral $Path) { $arguments += 'path', $Path[0] }
    $arguments
}

# The bindings that a selection names, from one listing on each machine at
# once: as they come, marked with PSComputerName where the machine is
# another. -Name stands for the adapters of those connection names on each
# machine. A selection that matches nothing on a machine is an error for
# that machine; a class without paths is not. Failures are errors, each for
# its machine, and a listing that could not be made gives nothing at all.
function Get-FerruleSelected {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string]$Class, [string[]]$ComponentID,
        [string[]]$Path, [string[]]$DisplayName, [string[]]$Name)
    $selection = "-Class $Class"
    foreach ($part in @(@('Name', $Name), @('ComponentID', $ComponentID), @('Path', $Path), @('DisplayName', $DisplayName))) {
        if ($part[1]) { $selection += " -$($part[0]) $($part[1] -join ',')" }
    }
    $passedIds = $ComponentID
    if ($Name) { $passedIds = $null }
    $arguments = @(Get-FerruleListingArgument $Class $passedIds $Path)
    $filterIds = $ComponentID -and $arguments -notcontains 'comp'
    $filterPaths = $Path -and $arguments -notcontains 'path'
    $commandLine = ConvertTo-FerruleCommandLine $arguments
    $work = @{}
    foreach ($computer in (Get-FerruleComputer $Session)) { $work[$computer] = @($commandLine) }
    $machines = Invoke-FerruleRun $Cmdlet $Session $ThrottleLimit $work ($Class -eq 'Adapter')
    foreach ($computer in (Get-FerruleComputer $Session)) {
        if (-not $machines.ContainsKey($computer)) { continue }
        $machine = $machines[$computer]
        $ids = $null
        if ($Name) {
            $names = $machine.AdapterNames
            foreach ($one in $Name) {
                if (-not (Test-FerruleWildcard $one) -and -not ($names.Values -contains $one)) {
                    $Cmdlet.WriteError((New-FerruleErrorRecord "No network adapter is named '$one'." 'ObjectNotFound' $one $computer))
                }
            }
            $ids = @($names.Keys | Where-Object { Test-FerruleLike $names[$_] $Name })
            if ($ids.Count -eq 0) { continue }
        }
        $run = $machine.Runs[0]
        if (-not (Assert-FerruleRun $Cmdlet $run $selection $computer)) { continue }
        $output = Read-FerruleOutput $run.Lines $Class $machine.AdapterNames
        foreach ($failure in $output.Failures) { Write-FerruleFailure $Cmdlet $failure $selection $computer }
        $selected = $output.Paths
        if ($filterIds -or $filterPaths -or $DisplayName -or $ids) {
            $selected = @(foreach ($one in $output.Paths) {
                    if ($ids -and $ids -notcontains $one.ComponentID) { continue }
                    if ($filterIds -and -not (Test-FerruleLike $one.ComponentID $ComponentID)) { continue }
                    if ($filterPaths -and -not (Test-FerruleLike $one.Path $Path)) { continue }
                    if ($DisplayName -and -not (Test-FerruleLike $one.DisplayName $DisplayName)) { continue }
                    $one
                })
        }
        if ($computer) {
            foreach ($one in $selected) { Add-Member -InputObject $one -NotePropertyName PSComputerName -NotePropertyValue $computer }
        }
        $selected
        if ($selected.Count -eq 0 -and $output.Failures.Count -eq 0 -and ($Name -or $ComponentID -or $Path -or $DisplayName)) {
            $Cmdlet.WriteError((New-FerruleErrorRecord "No binding path matches $selection." 'ObjectNotFound' $selection $computer))
        }
    }
}

#endregion

#region Changing bindings

# A copy of a binding, its machine's name included.
function Copy-FerruleBinding {
    param($Binding)
    $copy = $Binding.Clone()
    $computer = $Binding.PSObject.Properties['PSComputerName']
    if ($computer) { Add-Member -InputObject $copy -NotePropertyName PSComputerName -NotePropertyValue $computer.Value }
    $copy
}

function Get-FerruleComputerOf {
    param($Binding)
    $computer = $Binding.PSObject.Properties['PSComputerName']
    if ($computer -and $computer.Value) { return [string]$computer.Value }
    ''
}

# Puts bindings into the states wanted: each item a Current binding, as just
# listed, and the Enabled state wanted for it. A path already in that state is
# left alone. Every change is offered to ShouldProcess first; then each
# machine's changes run there one after another, all machines at once.
function Invoke-FerruleChange {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Items, [bool]$PassThru)
    $work = @{}
    $planned = @{}
    foreach ($item in $Items) {
        $current = $item.Current
        if ($current.Enabled -eq $item.Enabled) {
            if ($PassThru) { Copy-FerruleBinding $current }
            continue
        }
        $computer = Get-FerruleComputerOf $current
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
        [void]$work[$computer].Add((ConvertTo-FerruleCommandLine $arguments))
        [void]$planned[$computer].Add($item)
    }
    if ($work.Count -eq 0) { return }
    $lines = @{}
    foreach ($computer in @($work.Keys)) { $lines[$computer] = $work[$computer].ToArray() }
    $machines = Invoke-FerruleRun $Cmdlet $Session $ThrottleLimit $lines $false
    foreach ($computer in $planned.Keys) {
        if (-not $machines.ContainsKey($computer)) { continue }
        $runs = $machines[$computer].Runs
        for ($i = 0; $i -lt $runs.Count; $i++) {
            $item = $planned[$computer][$i]
            Read-FerruleChange $Cmdlet $runs[$i] $item.Current $item.Enabled $computer $PassThru
        }
    }
}

# What one change's run says: the changed binding (with -PassThru), a warning
# for a restart pending, or an error; never an object for a change not made.
function Read-FerruleChange {
    param($Cmdlet, $Run, $Current, [bool]$Enabled, [string]$Computer, [bool]$PassThru)
    if (-not (Assert-FerruleRun $Cmdlet $Run $Current $Computer)) { return }
    $output = Read-FerruleOutput $Run.Lines $Current.Class
    foreach ($failure in $output.Failures) { Write-FerruleFailure $Cmdlet $failure $Current $Computer }
    if ($output.Failures.Count -gt 0) { return }
    $target = "$($Current.ComponentID): $($Current.Path)"
    if ($output.Paths.Count -eq 0 -or -not $output.Applied.ContainsKey($output.Paths[0].ComponentID)) {
        $Cmdlet.WriteError((New-FerruleErrorRecord "No binding path $target is there to change." 'ObjectNotFound' $Current $Computer))
        return
    }
    $result = Copy-FerruleBinding $Current
    $code = $output.Applied[$output.Paths[0].ComponentID]
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
function ConvertTo-FerruleState {
    param($Value)
    if ($Value -is [bool]) { return $Value }
    $text = [string]$Value
    if ($text -eq 'True') { return $true }
    if ($text -eq 'False') { return $false }
    $null
}

# A class by its name or by ferrule's word for it; $null for anything else.
function ConvertTo-FerruleClass {
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
function Invoke-FerruleWanted {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [bool]$PassThru)
    $computers = Get-FerruleComputer $Session
    $byClass = @{}
    foreach ($want in $Wanted) {
        $targets = $computers
        if ($Session -and $want.Computer) {
            if ($computers -notcontains $want.Computer) {
                $Cmdlet.WriteError((New-FerruleErrorRecord "No session reaches $($want.Computer) for $($want.ComponentID): $($want.Path)." `
                            'ObjectNotFound' $want))
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
        $listed = @(Get-FerruleSelected $Cmdlet $Session $ThrottleLimit $class)
        foreach ($one in $listed) { $current["$(Get-FerruleComputerOf $one)`n$($one.ComponentID)`n$($one.Path)"] = $one }
        foreach ($entry in $byClass[$class]) {
            $want = $entry.Want
            $key = "$($entry.Computer)`n$($want.ComponentID)`n$($want.Path)"
            if ($current.ContainsKey($key)) {
                [void]$items.Add(@{ Current = $current[$key]; Enabled = $want.Enabled })
            } else {
                $Cmdlet.WriteError((New-FerruleErrorRecord "No binding path $($want.ComponentID): $($want.Path) of class $class." `
                            'ObjectNotFound' $want $entry.Computer))
            }
        }
    }
    Invoke-FerruleChange $Cmdlet $Session $ThrottleLimit $items.ToArray() $PassThru
}

# What one object from the pipeline asks for, or $null (and an error) when
# its Class or Enabled cannot be read.
function ConvertTo-FerruleWanted {
    param($Cmdlet, $Item, $Enabled)
    $class = ConvertTo-FerruleClass $Item.Class
    $state = ConvertTo-FerruleState $Enabled
    if ($null -eq $class -or $null -eq $state) {
        $message = "Class must be Adapter, Client, Protocol or Service, and Enabled True or False, not '$($Item.Class)' and '$Enabled'."
        $Cmdlet.WriteError((New-FerruleErrorRecord $message 'InvalidArgument' $Item))
        return
    }
    [pscustomobject]@{
        Class = $class; ComponentID = [string]$Item.ComponentID; Path = [string]$Item.Path; Enabled = $state
        Computer = Get-FerruleComputerOf $Item
    }
}

# What Disable-FerruleBinding and Enable-FerruleBinding do with a selection.
function Invoke-FerruleSelection {
    param($Cmdlet, [hashtable]$Bound, [bool]$Enabled)
    $class = 'Adapter'
    if ($Bound.ContainsKey('Class')) { $class = $Bound['Class'] }
    if ($Bound.ContainsKey('Name')) { $class = 'Adapter' }
    $throttle = Get-FerruleThrottle $Bound
    $selected = @(Get-FerruleSelected $Cmdlet $Bound['Session'] $throttle $class $Bound['ComponentID'] $Bound['Path'] `
            $Bound['DisplayName'] $Bound['Name'])
    $items = @(foreach ($one in $selected) { @{ Current = $one; Enabled = $Enabled } })
    Invoke-FerruleChange $Cmdlet $Bound['Session'] $throttle $items ([bool]$Bound['PassThru'])
}

# What Disable-FerruleBinding and Enable-FerruleBinding do with each input: a
# selection is changed at once; objects from the pipeline are gathered into
# Wanted, to be found and changed together at the end.
function Step-FerruleChange {
    param($Cmdlet, [hashtable]$Bound, [bool]$Enabled, [System.Collections.ArrayList]$Wanted)
    if ($Cmdlet.ParameterSetName -eq 'Selection') {
        Invoke-FerruleSelection $Cmdlet $Bound $Enabled
        return
    }
    foreach ($item in $Bound['InputObject']) {
        $one = ConvertTo-FerruleWanted $Cmdlet $item $Enabled
        if ($one) { [void]$Wanted.Add($one) }
    }
}

function Complete-FerruleChange {
    param($Cmdlet, [hashtable]$Bound, [System.Collections.ArrayList]$Wanted)
    if ($Wanted.Count -eq 0) { return }
    Invoke-FerruleWanted $Cmdlet $Bound['Session'] (Get-FerruleThrottle $Bound) $Wanted.ToArray() ([bool]$Bound['PassThru'])
}

function Get-FerruleThrottle {
    param([hashtable]$Bound)
    if ($Bound.ContainsKey('ThrottleLimit')) { return $Bound['ThrottleLimit'] }
    32
}

#endregion

#region Commands

<#
.SYNOPSIS
Gets the binding paths of the machine's network components, with their states.

.DESCRIPTION
Runs one ferrule listing of a class of components (adapters by default) and
returns each binding path as a Ferrule.Binding object: Class, ComponentID (the
component's bind name; for an adapter its interface GUID), DisplayName, Path
(the path token), Enabled and, for adapters, Name (the connection name, such
as "Ethernet 2"). -ComponentID, -Path, -DisplayName and -Name take wildcards.
A single value without wildcards is compared by ferrule itself, as Windows
compares names. A selection that matches nothing is an error, and so is a
listing that could not be made (the write lock held, access denied): never
an empty answer.

.PARAMETER ComponentID
Bind names of the components, such as ms_tcpip, or an adapter's {GUID}.

.PARAMETER Class
Adapter (the default), Client, Protocol or Service.

.PARAMETER Path
Path tokens, such as ms_tcpip6->{GUID}.

.PARAMETER DisplayName
Display names of the components.

.PARAMETER Name
Connection names of adapters, such as "Ethernet 2"; implies -Class Adapter.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol

Lists every binding path of the protocols.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 | Where-Object Enabled

The enabled paths above IPv6.

.EXAMPLE
PS C:\> Get-FerruleBinding -Name 'Ethernet*' -Path 'ms_tcpip6->*'

Whether IPv6 is bound to each adapter whose connection name starts with Ethernet.
#>
function Get-FerruleBinding {
    [CmdletBinding()]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(Position = 0)] [SupportsWildcards()] [string[]]$ComponentID,
        [ValidateSet('Adapter', 'Client', 'Protocol', 'Service')] [string]$Class = 'Adapter',
        [SupportsWildcards()] [string[]]$Path,
        [SupportsWildcards()] [string[]]$DisplayName,
        [SupportsWildcards()] [string[]]$Name,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    if ($Name) { $Class = 'Adapter' }
    Get-FerruleSelected $PSCmdlet $Session $ThrottleLimit $Class $ComponentID $Path $DisplayName $Name
}

<#
.SYNOPSIS
Disables binding paths.

.DESCRIPTION
Disables the binding paths that the selection parameters name, as
Get-FerruleBinding selects them, or the Ferrule.Binding objects that come from
the pipeline (fresh, from Import-Clixml, or from a remote session). A path is
one ferrule run: "class ... comp ... path ... disable". A path already
disabled is left as it is. -WhatIf lists every path that would change and
changes none. A change that needs a restart is a warning, and its -PassThru
object has RebootRequired set; any other failure is an error for that path.

.PARAMETER InputObject
Ferrule.Binding objects, or any objects with Class, ComponentID and Path.

.PARAMETER PassThru
Returns a Ferrule.Binding object for each path, with its state after the change.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Disable-FerruleBinding -Name 'Ethernet 2' -Path 'ms_tcpip6->*' -WhatIf

Shows what unbinding IPv6 from the adapter "Ethernet 2" would change.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 | Disable-FerruleBinding -PassThru

Disables every path above IPv6 and returns their new states.
#>
function Disable-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'High', DefaultParameterSetName = 'Selection')]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(ParameterSetName = 'Selection', Position = 0)] [SupportsWildcards()] [string[]]$ComponentID,
        [Parameter(ParameterSetName = 'Selection')] [ValidateSet('Adapter', 'Client', 'Protocol', 'Service')] [string]$Class = 'Adapter',
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [string[]]$Path,
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [string[]]$DisplayName,
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [string[]]$Name,
        [Parameter(ParameterSetName = 'InputObject', Mandatory = $true, ValueFromPipeline = $true)] [psobject[]]$InputObject,
        [switch]$PassThru,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $wanted = New-Object System.Collections.ArrayList }
    process { Step-FerruleChange $PSCmdlet $PSBoundParameters $false $wanted }
    end { Complete-FerruleChange $PSCmdlet $PSBoundParameters $wanted }
}

<#
.SYNOPSIS
Enables binding paths.

.DESCRIPTION
Enables the binding paths that the selection parameters name, or the
Ferrule.Binding objects that come from the pipeline, one ferrule run a path.
A path already enabled is left as it is. -WhatIf lists every path that would
change and changes none.

.PARAMETER InputObject
Ferrule.Binding objects, or any objects with Class, ComponentID and Path.

.PARAMETER PassThru
Returns a Ferrule.Binding object for each path, with its state after the change.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_msclient->ms_tcpip6' -PassThru

Binds IPv6 to the Client for Microsoft Networks again.
#>
function Enable-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'Medium', DefaultParameterSetName = 'Selection')]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(ParameterSetName = 'Selection', Position = 0)] [SupportsWildcards()] [string[]]$ComponentID,
        [Parameter(ParameterSetName = 'Selection')] [ValidateSet('Adapter', 'Client', 'Protocol', 'Service')] [string]$Class = 'Adapter',
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [string[]]$Path,
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [string[]]$DisplayName,
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [string[]]$Name,
        [Parameter(ParameterSetName = 'InputObject', Mandatory = $true, ValueFromPipeline = $true)] [psobject[]]$InputObject,
        [switch]$PassThru,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $wanted = New-Object System.Collections.ArrayList }
    process { Step-FerruleChange $PSCmdlet $PSBoundParameters $true $wanted }
    end { Complete-FerruleChange $PSCmdlet $PSBoundParameters $wanted }
}

<#
.SYNOPSIS
Puts binding paths into the states given, for example saved ones.

.DESCRIPTION
Takes Class, ComponentID, Path and Enabled by property name from the pipeline,
so that the rows of Export-Csv or Export-Clixml put saved states back. Enabled
may be a [bool] or the text True or False that Import-Csv gives. Only paths
whose state differs are changed, one ferrule run each.

.PARAMETER Class
Adapter, Client, Protocol or Service.

.PARAMETER ComponentID
The component's bind name.

.PARAMETER Path
The path token.

.PARAMETER Enabled
The state wanted: $true, $false, or the text True or False.

.PARAMETER PassThru
Returns a Ferrule.Binding object for each path, with its state after the change.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol | Export-Csv -NoTypeInformation -Path protocols.csv
Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6
Import-Csv protocols.csv | Set-FerruleBinding

Saves the protocols' states, changes them, and puts them back.

.EXAMPLE
PS C:\> Set-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Enabled $false -WhatIf

Shows whether disabling one path would change anything.
#>
function Set-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'High')]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [string]$Class,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [AllowEmptyString()] [string]$ComponentID,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [AllowEmptyString()] [string]$Path,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [object]$Enabled,
        [Parameter(ValueFromPipelineByPropertyName = $true)] [AllowEmptyString()] [AllowNull()] [string]$PSComputerName,
        [switch]$PassThru,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $wanted = New-Object System.Collections.ArrayList }
    process {
        $item = [pscustomobject]@{ Class = $Class; ComponentID = $ComponentID; Path = $Path; PSComputerName = $PSComputerName }
        $one = ConvertTo-FerruleWanted $PSCmdlet $item $Enabled
        if ($one) { [void]$wanted.Add($one) }
    }
    end { Complete-FerruleChange $PSCmdlet $PSBoundParameters $wanted }
}

#endregion

. (Join-Path $PSScriptRoot 'Test-Ferrule.ps1')

Export-ModuleMember -Function Get-FerruleBinding, Disable-FerruleBinding, Enable-FerruleBinding, Set-FerruleBinding,
    Test-Ferrule
