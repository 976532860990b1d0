# Running ferrule: which exe, its command lines quoted as the C runtime splits
# them, and the runs themselves, on this machine or on the machines of
# sessions, all at once.
#
# The helpers here and in the other private files take the calling command as
# -Cmdlet (its $PSCmdlet), and write every error, warning and ShouldProcess
# question through it: so each is the public command's own, named for it, and
# obeys that command's -ErrorAction, -WarningAction, -WhatIf and -Confirm.

# The ferrule to run: FERRULE_EXE's, else the package's own exe (x64 or x86)
# for a machine's architecture (this machine's, by default).
function Get-ExePath {
    param([string]$Exe = (& $script:MachineArchitecture).Exe)
    if ($env:FERRULE_EXE) { return $env:FERRULE_EXE }
    Join-Path -Path (Join-Path -Path $script:ModuleRoot -ChildPath $Exe) -ChildPath 'ferrule.exe'
}

# One warning for each command that runs ferrule on an ARM64 machine, naming
# them all ('' for this machine): there is no ARM64 build.
$script:WarnedOfEmulation = New-Object 'System.Runtime.CompilerServices.ConditionalWeakTable[object,object]'
function Write-EmulationWarning {
    param($Cmdlet, [hashtable]$Architectures)
    $emulated = @(foreach ($computer in @($Architectures.Keys | Sort-Object)) {
            $architecture = $Architectures[$computer]
            if ($architecture.Emulated) { "$(if ($computer) { $computer } else { [Environment]::MachineName }) " +
                "($($architecture.Exe))" }
        })
    $warned = $null
    if ($emulated.Count -eq 0 -or $script:WarnedOfEmulation.TryGetValue($Cmdlet, [ref]$warned)) { return }
    $script:WarnedOfEmulation.Add($Cmdlet, $true)
    $Cmdlet.WriteWarning((Get-Message -Id EmulatedExe -Values ($emulated -join ', ')))
}

# One argument as the C runtime splits a command line: quoted when it is empty
# or holds a space or a quotation mark, with the backslashes before a quotation
# mark doubled.
function ConvertTo-QuotedArgument {
    param([string]$Word)
    if ($Word.Length -gt 0 -and $Word -notmatch '[\s"]') { return $Word }
    $quoted = [regex]::Replace($Word, '(\\*)"', '$1$1\"')
    $quoted = [regex]::Replace($quoted, '(\\+)\z', '$1$1')
    '"' + $quoted + '"'
}

function ConvertTo-CommandLine {
    param([string[]]$ArgumentList)
    (@(foreach ($word in $ArgumentList) { ConvertTo-QuotedArgument -Word $word })) -join ' '
}

# How many machines at once: -ThrottleLimit, else the module's default.
function Get-ThrottleLimit {
    param([hashtable]$Bound)
    if ($Bound.ContainsKey('ThrottleLimit')) { return $Bound['ThrottleLimit'] }
    $script:DefaultThrottleLimit
}

# The machines a command works on: this one (''), or those of the sessions.
# (No pipeline cmdlet here or in the module's other checks: ForEach-Object
# answers to -WhatIf, and would skip its work under it.)
function Get-SessionComputer {
    param([object[]]$Session)
    if (-not $Session) { return , @('') }
    , @(foreach ($one in $Session) { $one.ComputerName })
}

# Two sessions that reach one machine, which would list and change it twice:
# refused, by identity (MachineId with the machine's own name) where the
# probes read one, and by computer name (an address in its one written form).
function Assert-OneSessionEach {
    param($Cmdlet, [object[]]$Session, [hashtable]$Probes)
    $names = @{}
    $identities = New-Object 'System.Collections.Generic.Dictionary[Ferrule.RowMachine,string]'
    $twice = New-Object System.Collections.ArrayList
    foreach ($one in $Session) {
        $address = $null
        $name = [string]$one.ComputerName
        if ([Net.IPAddress]::TryParse($name, [ref]$address)) { $name = $address.ToString() }
        if ($names.ContainsKey($name)) { [void]$twice.Add("$($names[$name]) and $($one.ComputerName)") }
        $names[$name] = $one.ComputerName
        if (-not ($Probes -and $Probes.ContainsKey($one.ComputerName) -and $Probes[$one.ComputerName].MachineId)) {
            continue
        }
        $identity = New-Object Ferrule.RowMachine
        $identity.MachineId = $Probes[$one.ComputerName].MachineId
        $identity.MachineName = $Probes[$one.ComputerName].MachineName
        if ($identities.ContainsKey($identity)) {
            [void]$twice.Add("$($identities[$identity]) and $($one.ComputerName)")
        }
        $identities[$identity] = $one.ComputerName
    }
    if ($twice.Count -eq 0) { return }
    $record = New-ErrorRecord -Id SessionsShareMachine -Values ($twice -join ', ') -Category InvalidArgument `
        -Target $twice.ToArray()
    $Cmdlet.ThrowTerminatingError($record)
}

# The blocks that travel inside the remote steps, by name, as text: the one
# way a step gets them (see Remote.ps1), the seam's (Ferrule.psm1) with them,
# so that another machine does in its own way what this one's seam says.
function Get-RemoteBlock {
    $blocks = @{ RunExe = $script:RunExe.ToString(); StartExe = $script:StartExe.ToString()
        OutputCodePage = $script:OutputCodePage.ToString(); WriteCheck = $script:WriteCheck.ToString()
        AdapterNames = $script:AdapterNames.ToString(); Launcher = $script:LauncherText
        MachineArchitecture = $script:MachineArchitecture.ToString()
    }
    foreach ($name in $script:HostSeam.Keys) { $blocks[$name] = $script:HostSeam[$name].ToString() }
    $blocks
}

# Runs one remote step on each session at once, at most ThrottleLimit at a
# time, with that session's arguments (ArgumentsFor gives them, in the step's
# order), as Invoke-Command runs it. Returns each machine's answer by computer
# name; a machine that fails is an error that names it, and the others go on.
# Its progress, machine by machine, is said under Stage (a message's key),
# and completed when every machine has answered.
function Invoke-FanOut {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [scriptblock]$Step, [scriptblock]$ArgumentsFor,
        [string]$Stage)
    $activity = Get-Message -Id ProgressActivity -Values $Session.Count
    $done = 0
    $answers = @{}
    $queue = New-Object System.Collections.Queue
    foreach ($one in $Session) { $queue.Enqueue($one) }
    $running = @{}
    while ($queue.Count -gt 0 -or $running.Count -gt 0) {
        while ($queue.Count -gt 0 -and $running.Count -lt [Math]::Max(1, $ThrottleLimit)) {
            $one = $queue.Dequeue()
            $job = Invoke-Command -Session $one -ScriptBlock $Step -ArgumentList (& $ArgumentsFor $one) -AsJob
            $running[$job.Id] = $one
        }
        $finished = Wait-Job -Id @($running.Keys) -Any
        $one = $running[$finished.Id]
        $running.Remove($finished.Id)
        # The job's own errors are read from it, not received: received, they
        # would also reach the caller's error variable, beside the one here.
        $answer = Receive-Job -Job $finished -Keep -ErrorAction Ignore
        $problems = @(foreach ($child in $finished.ChildJobs) { foreach ($problem in $child.Error) { if ($problem) {
            $problem } } })
        $reason = $finished.ChildJobs[0].JobStateInfo.Reason
        Remove-Job -Job $finished -Force -WhatIf:$false -Confirm:$false
        $done++
        Write-Progress -Id 1 -Activity $activity -Status (Get-Message -Id $Stage -Values $done, $Session.Count) `
            -PercentComplete ([int](100 * $done / $Session.Count))
        if ($problems.Count -gt 0 -or $reason) {
            $message = $(if ($problems.Count -gt 0) { $problems[0].Exception.Message } else { $reason.Message })
            $record = New-ErrorRecord -Id ConnectionFailed -Values $message -Category ConnectionError `
                -Target $one.ComputerName `
                -Computer $one.ComputerName
            $Cmdlet.WriteError($record)
        } else {
            $answers[$one.ComputerName] = $answer
        }
    }
    Write-Progress -Id 1 -Activity $activity -Completed
    $answers
}

# Copies the exe's bytes to the machines of these sessions, each to the path
# that its probe gave.
function Copy-ExeToSession {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [hashtable]$Probes, [byte[]]$Bytes)
    $blocks = Get-RemoteBlock
    Invoke-FanOut -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Step $script:CopyStep `
        -Stage ProgressCopy -ArgumentsFor {
        param($one)
        , @($Probes[$one.ComputerName].Path, $Bytes, $blocks)
    } | Out-Null
}

# The exe that is to run must be there: where it is not, nothing runs, and
# the command ends (ExeMissing).
function Assert-ExePresent {
    param($Cmdlet, [string]$Path)
    if (Test-Path -LiteralPath $Path) { return }
    $record = New-ErrorRecord -Id ExeMissing -Values $Path -Category ObjectNotFound -Target $Path
    $Cmdlet.ThrowTerminatingError($record)
}

# Says (verbose) every command line with the machine it is for, before any
# runs: each is said even where a run never ends.
function Write-RunVerbose {
    param($Cmdlet, [hashtable]$Work)
    foreach ($computer in $Work.Keys) {
        $machine = $(if ($computer) { $computer } else { [Environment]::MachineName })
        foreach ($line in $Work[$computer]) {
            $Cmdlet.WriteVerbose((Get-Message -Id VerboseRun -Values $machine, $line))
        }
    }
}

# What another machine refused (Refused: its message's Id and Values), as an
# error of that machine's, written one way wherever it comes: the folder or
# exe that its check there refuses (Blocks.WriteCheck), or a start refused
# for the exe's SHA-256.
function Write-Refusal {
    param($Cmdlet, $Refused, [string]$Computer)
    $refusal = @{ Id = $Refused.Id; Values = $Refused.Values; Category = 'SecurityError'; Target = $Computer }
    $Cmdlet.WriteError((New-ErrorRecord @refusal -Computer $Computer))
}

# This machine's runs of its command lines (through the exe at Path), as
# Invoke-Run gives each machine: the runs, the adapters' connection names
# (with -WithAdapterNames; else none) and the machine's identity.
function Invoke-LocalRun {
    param([string]$Path, [string[]]$CommandLines, [switch]$WithAdapterNames)
    $run = @{ Path = $Path; CommandLines = $CommandLines; StopAt = $script:StoppedStatuses; Blocks = (Get-RemoteBlock) }
    $runs = & $script:RunExe @run
    $names = @{}
    if ($WithAdapterNames) { $names = & $script:AdapterNames }
    $identity = & $script:HostSeam.MachineIdentity
    [pscustomobject]@{ Runs = $runs; AdapterNames = $names; MachineId = $identity.MachineId
        MachineName = $identity.MachineName
    }
}

# Each session's probe, by computer name: where its machine keeps the exe
# (named ExeName), that file's SHA-256, the machine's architecture and
# identity. Two sessions that reach one machine end the command; a machine
# that refuses is an error, and has no probe.
function Get-SessionProbe {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string]$ExeName, [hashtable]$Blocks)
    $probe = @{ Cmdlet = $Cmdlet; Session = $Session; ThrottleLimit = $ThrottleLimit; Step = $script:ProbeStep }
    $probes = Invoke-FanOut @probe -Stage ProgressProbe -ArgumentsFor { , @($ExeName, $Blocks) }
    Assert-OneSessionEach -Cmdlet $Cmdlet -Session $Session -Probes $probes
    foreach ($computer in @($probes.Keys)) {
        if (-not $probes[$computer].Refused) { continue }
        Write-Refusal -Cmdlet $Cmdlet -Refused $probes[$computer].Refused -Computer $computer
        $probes.Remove($computer)
    }
    $probes
}

# Each session's exe, by computer name: the package's for the architecture
# that its probe gave (Exe), with that file's SHA-256 (Hash), each file
# hashed once.
function Get-SessionExe {
    param([object[]]$Session, [hashtable]$Probes)
    $hashes = @{}
    $exes = @{}
    foreach ($one in $Session) {
        $exe = Get-ExePath -Exe $Probes[$one.ComputerName].Architecture.Exe
        if (-not $hashes.ContainsKey($exe)) { $hashes[$exe] = (Get-FileHash -Algorithm SHA256 -LiteralPath $exe).Hash }
        $exes[$one.ComputerName] = [pscustomobject]@{ Exe = $exe; Hash = $hashes[$exe] }
    }
    $exes
}

# Copies each session's exe (Exes: Get-SessionExe's) where its probe found
# another SHA-256 there, or none: the machines of one exe at once, each copy
# said (verbose) first.
function Copy-ExeWhereMissing {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [hashtable]$Probes, [hashtable]$Exes)
    $hashes = @{}
    foreach ($one in $Session) { $hashes[$Exes[$one.ComputerName].Exe] = $Exes[$one.ComputerName].Hash }
    foreach ($exe in @($hashes.Keys)) {
        $missing = @(foreach ($one in $Session) {
                $own = $Exes[$one.ComputerName]
                if ($own.Exe -eq $exe -and $Probes[$one.ComputerName].Hash -ne $own.Hash) { $one }
            })
        foreach ($one in $missing) {
            $target = $Probes[$one.ComputerName].Path
            $Cmdlet.WriteVerbose((Get-Message -Id VerboseCopy -Values $one.ComputerName, $target))
        }
        if ($missing.Count -eq 0) { continue }
        $copy = @{ Cmdlet = $Cmdlet; Session = $missing; ThrottleLimit = $ThrottleLimit; Probes = $Probes }
        Copy-ExeToSession @copy -Bytes ([IO.File]::ReadAllBytes($exe))
    }
}

# One machine's answer to its runs (Probe: its probe), as Invoke-Run gives
# each machine: its runs, its adapters' connection names and its identity.
# Each refusal is an error; a machine that refused the step gives nothing,
# and a start refused for its SHA-256 ends the machine's runs: those before
# it stand.
function Read-RunAnswer {
    param($Cmdlet, [string]$Computer, $Answer, $Probe)
    if ($Answer.Refused) {
        Write-Refusal -Cmdlet $Cmdlet -Refused $Answer.Refused -Computer $Computer
        return
    }
    $runs = @(foreach ($run in @($Answer.Runs)) { if (-not $run.Refused) { $run } })
    foreach ($run in @($Answer.Runs)) {
        if ($run.Refused) { Write-Refusal -Cmdlet $Cmdlet -Refused $run.Refused -Computer $Computer }
    }
    $names = @{}
    if ($Answer.AdapterNames) {
        foreach ($key in $Answer.AdapterNames.Keys) { $names[$key] = $Answer.AdapterNames[$key] }
    }
    [pscustomobject]@{ Runs = $runs; AdapterNames = $names; MachineId = $Probe.MachineId
        MachineName = $Probe.MachineName
    }
}

# Runs each session's command lines (Work, by computer name) on its machine,
# through the exe named ExeName there; returns what Invoke-Run does. Each
# machine is probed first; its exe is the package's for its architecture,
# copied where the one there has another SHA-256, or none, and checked by
# that SHA-256 before it runs.
function Invoke-SessionRun {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [hashtable]$Work, [switch]$WithAdapterNames,
        [string]$ExeName)
    $sessions = @(foreach ($one in $Session) { if ($Work.ContainsKey($one.ComputerName)) { $one } })
    if ($sessions.Count -eq 0) { return @{} }
    $blocks = Get-RemoteBlock
    $probe = @{ Cmdlet = $Cmdlet; Session = $sessions; ThrottleLimit = $ThrottleLimit; ExeName = $ExeName }
    $probes = Get-SessionProbe @probe -Blocks $blocks
    $ready = @(foreach ($one in $sessions) { if ($probes.ContainsKey($one.ComputerName)) { $one } })
    $architectures = @{}
    foreach ($one in $ready) { $architectures[$one.ComputerName] = $probes[$one.ComputerName].Architecture }
    Write-EmulationWarning -Cmdlet $Cmdlet -Architectures $architectures
    $exes = Get-SessionExe -Session $ready -Probes $probes
    Copy-ExeWhereMissing -Cmdlet $Cmdlet -Session $ready -ThrottleLimit $ThrottleLimit -Probes $probes -Exes $exes
    $run = @{ Cmdlet = $Cmdlet; Session = $ready; ThrottleLimit = $ThrottleLimit; Step = $script:RunStep }
    $answers = Invoke-FanOut @run -Stage ProgressRun -ArgumentsFor {
        param($one)
        , @($probes[$one.ComputerName].Path, $exes[$one.ComputerName].Hash, $Work[$one.ComputerName],
            $script:StoppedStatuses, $blocks, [bool]$WithAdapterNames)
    }
    $machines = @{}
    foreach ($computer in $answers.Keys) {
        $answer = $answers[$computer]
        $machine = Read-RunAnswer -Cmdlet $Cmdlet -Computer $computer -Answer $answer -Probe $probes[$computer]
        if ($null -ne $machine) { $machines[$computer] = $machine }
    }
    $machines
}

# Runs each machine's command lines: Work holds them by computer name (''
# for this machine). Returns, by computer name, each machine's runs and, with
# -WithAdapterNames, its adapters' connection names, with its MachineId and
# MachineName. On other machines the exe is first copied where it is missing
# or another, and then checked by its SHA-256 before it runs.
function Invoke-Run {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [hashtable]$Work, [switch]$WithAdapterNames)
    $architecture = & $script:MachineArchitecture
    $path = Get-ExePath -Exe $architecture.Exe
    Assert-ExePresent -Cmdlet $Cmdlet -Path $path
    Assert-OneSessionEach -Cmdlet $Cmdlet -Session $Session
    Write-RunVerbose -Cmdlet $Cmdlet -Work $Work
    if ($Session) {
        $remote = @{ Cmdlet = $Cmdlet; Session = $Session; ThrottleLimit = $ThrottleLimit; Work = $Work
            WithAdapterNames = $WithAdapterNames
        }
        return Invoke-SessionRun @remote -ExeName (Split-Path -Leaf $path)
    }
    Write-EmulationWarning -Cmdlet $Cmdlet -Architectures @{ '' = $architecture }
    $here = Invoke-LocalRun -Path $path -CommandLines ([string[]]$Work['']) -WithAdapterNames:$WithAdapterNames
    @{ '' = $here }
}
