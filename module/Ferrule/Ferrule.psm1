# Ferrule: the binding paths of a Windows machine's network components as
# objects. Every command runs ferrule.exe, reads its lines and exit status, and
# turns its failures into errors; nothing here touches the configuration itself.
# Runs on Windows PowerShell 5.1 and on PowerShell 7.
#
# This file holds strict mode, the tables that every other file reads, the
# loading of the C# (Types/), the messages (en-US/) and the scripts, and the
# exports. Private/ holds the module's own work, one file a concern; Public/
# one file a command, with its help. The files are listed once, in the
# manifest's FileList, and dot-sourced from there.
Set-StrictMode -Version 2.0

# The module's compiled types (Types/*.cs), loaded once the scripts are (so
# that a refusal is the module's own error): see Import-ModuleType.

# The SHA-256 of bytes, as Get-FileHash gives it.
function Get-Sha256 {
    param([byte[]]$Bytes)
    $sha = [Security.Cryptography.SHA256]::Create()
    try { [BitConverter]::ToString($sha.ComputeHash($Bytes)).Replace('-', '') } finally { $sha.Dispose() }
}

# The module's C# as one text to compile: each of Types/*.cs read once, its
# bytes held to the SHA-256 that the signed Private/TypeHashes.ps1 gives
# (AllSigned does not look at what Add-Type compiles, and Authenticode cannot
# sign a .cs file), and the text of those same bytes compiled, so that a file
# changed after its check is never what runs. C# takes using lines only
# before the first namespace: the files' lead, each once, and each file's
# rest follows with a #line that names it in the compiler's messages. The
# text ends in Ferrule.TypesHash, whose Value is the SHA-256 of the text
# before it (Hash). Names: the public types that the files declare; Files:
# each file's text, by its name.
function Read-TypeSource {
    $utf8 = New-Object System.Text.UTF8Encoding $false
    $usings = New-Object System.Collections.Specialized.OrderedDictionary
    $bodies = New-Object System.Text.StringBuilder
    $files = @{}
    foreach ($name in $script:TypeHashes.Keys) {
        $path = Join-Path $PSScriptRoot "Types/$name"
        $bytes = [IO.File]::ReadAllBytes($path)
        $hash = Get-Sha256 -Bytes $bytes
        if ($hash -ne $script:TypeHashes[$name]) {
            throw "Ferrule: $path is not the file that the module was built with (its SHA-256 is $hash): not loaded."
        }
        $files[$name] = $utf8.GetString($bytes).TrimStart([char]0xFEFF)
        $lines = @($files[$name] -split "`r?`n")
        $first = 0
        while ($first -lt $lines.Count -and $lines[$first] -match '^\s*(using\s+[^;(]+;)?\s*$') {
            if ($lines[$first].Trim()) { $usings[$lines[$first].Trim()] = $true }
            $first++
        }
        if ($first -eq $lines.Count) { continue }
        [void]$bodies.Append("#line $($first + 1) `"$name`"`n").Append($lines[$first..($lines.Count - 1)] -join "`n")
        [void]$bodies.Append("`n")
    }
    $text = (@($usings.Keys) -join "`n") + "`n" + $bodies.ToString()
    $hash = Get-Sha256 -Bytes $utf8.GetBytes($text)
    $pattern = '\bpublic\s+(?:(?:static|sealed|abstract|partial)\s+)*(?:class|struct|enum|interface)\s+(\w+)'
    $names = @([regex]::Matches($text, $pattern) | ForEach-Object { $_.Groups[1].Value }) + 'TypesHash'
    $own = "#line default`nnamespace Ferrule {`n" +
        "    public static class TypesHash { public const string Value = `"$hash`"; }`n}`n"
    [pscustomobject]@{ Text = $text + $own; Hash = $hash; Names = $names; Files = $files }
}

# Compiles the module's types once a session. .NET unloads no type, nor
# loads another of the same name beside it: a session that holds this
# build's (a second import, -Force) keeps them, and one that holds types of
# the module's names from other text (a build imported before an upgrade, or
# types from elsewhere) cannot import this build, whose commands would run
# the other's types or find their own missing. The launcher's C# travels to
# other machines as the text that was checked.
function Import-ModuleType {
    $source = Read-TypeSource
    $script:LauncherText = $source.Files['DetachedRun.cs']
    $loaded = 'Ferrule.TypesHash' -as [type]
    if ($loaded -and $loaded::Value -eq $source.Hash) { return }
    $found = @(foreach ($name in $source.Names) { if ("Ferrule.$name" -as [type]) { "Ferrule.$name" } })
    if ($found.Count -gt 0) {
        $refusal = @{ Id = 'OtherTypesLoaded'; Values = $found -join ', '; Category = 'InvalidOperation'
            Target = $PSScriptRoot
        }
        throw (New-ErrorRecord @refusal)
    }
    Add-Type -TypeDefinition $source.Text
}

# The commands' class names and ferrule's words for them, in ferrule's order.
# The commands' ValidateSet attributes must list the same names (an attribute
# takes only constants); a test holds them to this table.
$script:ClassWords = [ordered]@{ Adapter = 'dev'; Client = 'client'; Protocol = 'proto'; Service = 'service' }

# ferrule's failure lines, by the call each names (what comes before
# " returned CODE", or before the code of a failed apply), and the error
# category each becomes; the first pattern that matches wins. Access denied is
# PermissionDenied whatever the call. Unknown is what a listing's line leaves
# unknown: one path's state, a component's paths or the class's. Every line
# that ferrule can print for a failure has its row here: a test holds the
# table to the list of them.
$script:FailureCategories = @(
    @{ Call = '^lock->AcquireWriteLock\(\)$'; Category = 'ResourceBusy'; Id = 'LockNotTaken' }
    @{ Call = '^bindingPath->Enable\(-?\d+\)$'; Category = 'WriteError'; Id = 'PathNotSet' }
    @{ Call = '^Applying changes \.\.\. failed - error code$'; Category = 'WriteError'; Id = 'ApplyFailed' }
    @{ Call = '^(netCfgComp->QueryInterface|bindings->EnumBindingPaths)\(\)$'
        Category = 'ReadError'; Id = 'BindingsUnreadable'
    }
    @{ Call = '^bindingPath->IsEnabled\(\)$'; Category = 'ReadError'; Id = 'StateUnknown'; Unknown = 'Path' }
    @{ Call = '^paths->Next\(\)$'; Category = 'ReadError'; Id = 'PathsNotListed'; Unknown = 'Component' }
    @{ Call = '^components->Next\(\)$'; Category = 'ReadError'; Id = 'ComponentsNotListed'; Unknown = 'Class' }
    @{ Call = '^netCfg->Uninitialize\(\)$'; Category = 'CloseError'; Id = 'NotClosed' }
    @{ Call = '^(CoInitializeEx\(\)|CoCreateInstance\(CLSID_CNetCfg\)|netCfg->QueryInterface\(IID_INetCfgLock\))$'
        Category = 'OpenError'; Id = 'NotOpened'
    }
    @{ Call = '^(netCfg->Initialize|QueryNetCfgClass|EnumComponents)\(\)$'; Category = 'OpenError'; Id = 'NotOpened' }
)
$script:AccessDenied = '80070005'

# The IDs of ferrule's other lines: access denied whatever the call, a call
# that the table lacks, a path line under no heading, a line it does not print.
$script:FailureIds = @{ PermissionDenied = 'AccessDenied'; OpenError = 'NotOpened'; InvalidResult = 'PathWithoutHeading'
    NotSpecified = 'LineNotKnown'
}

# The messages of errors and warnings (en-US/Ferrule.strings.psd1, or the UI
# culture's where there is one). Windows PowerShell 5.1 does not fall back to
# en-US by itself: a culture without a folder of its own gets en-US here.
$script:Messages = $null
$culture = [Globalization.CultureInfo]::CurrentUICulture.Name
$own = Join-Path $PSScriptRoot "$culture/Ferrule.strings.psd1"
if (-not $culture -or -not (Test-Path -LiteralPath $own)) { $culture = 'en-US' }
Import-LocalizedData -BindingVariable Messages -FileName Ferrule.strings.psd1 -BaseDirectory $PSScriptRoot `
    -UICulture $culture

# The exit status of a ferrule that was asked to stop: STATUS_CONTROL_C_EXIT on
# Windows, 58 (its Unix status) under Wine, 128 plus the signal on the stand-in.
$script:StoppedStatuses = @(-1073741510, 58, 130, 143, 129)

# A path's line: its token, then its state in a listing, or its states before
# and after in a change.
$script:ListingLine = [regex]'^    (.*): ([01])$'
$script:ChangeLine = [regex]'^    (.*): ([01])->([01])$'
# What any failure line ends with (Split-FailureLine reads it): a heading,
# which does not, is passed over without a function call.
$script:FailureEnd = [regex]' returned [0-9a-f]+$|^Applying changes \.\.\. failed - error code [0-9a-f]+$'

# The protocols that carry a session from another machine, which are not
# disabled on the adapters that may carry it without -Force.
$script:GuardedProtocols = @('ms_tcpip', 'ms_tcpip6')

# The components that carry other adapters (the Hyper-V switch protocol, the
# NIC team multiplexor, the bridge): binding one to an adapter unbinds TCP/IP
# from it, so neither way are they changed there without -Force.
$script:CarrierComponents = @('vms_pp', 'ms_implat', 'ms_bridge')

# NETCFG_S_REBOOT: the change is made, and a restart completes it.
$script:RebootCode = '4a020'

# The module's folder, where the package keeps its own copy of each exe.
$script:ModuleRoot = $PSScriptRoot

# How many machines at once, unless -ThrottleLimit says otherwise.
$script:DefaultThrottleLimit = 32

# What a machine does in its own way (its identity, its account, its event
# log, its file security, how a held-open exe is started, the exe's home on
# it), by name: the one place where the suite's hosts, which are no Windows,
# differ from the machines that the module is for. Each file of Private/ puts
# the Windows block of its own names here; every use goes through this
# table, here or (Get-RemoteBlock) on another machine.
$script:HostSeam = @{}

$manifest = Import-PowerShellDataFile -Path (Join-Path $PSScriptRoot 'Ferrule.psd1')
foreach ($file in @($manifest.FileList | Where-Object { $_ -like '*.ps1' })) {
    . (Join-Path $PSScriptRoot $file)
}
Import-ModuleType

# On the suite's hosts, FERRULE_SUITE_HOST names the script that gives their
# blocks, by the seam's names; each replaces the Windows one. The script is
# run, not read, so that the execution policy holds it as it holds the
# module's own files (AllSigned runs it only signed).
if ($env:FERRULE_SUITE_HOST) {
    $suite = & $env:FERRULE_SUITE_HOST
    if ($suite -isnot [hashtable]) { throw "Ferrule: $env:FERRULE_SUITE_HOST gives no table of blocks." }
    foreach ($name in $suite.Keys) {
        if (-not $script:HostSeam.ContainsKey($name) -or $suite[$name] -isnot [scriptblock]) {
            throw "Ferrule: $env:FERRULE_SUITE_HOST gives $name, which is no block of the module's seam."
        }
        $script:HostSeam[$name] = $suite[$name]
    }
}

Export-ModuleMember -Function $manifest.FunctionsToExport

# ---------------------------------------------------------------------------
# The PowerShell DSC class resource FerruleBindingList, for the LCM, Azure
# Machine Configuration and WinGet configurations of PowerShell DSC. A class
# resource must be defined here, in the root module's own text: PowerShell
# finds it by parsing this file, before the module's C# is compiled, so the
# classes use PowerShell's own types alone and call the module's functions.
# Get(), Test() and Set() call Invoke-DesiredState (Private/Desired.ps1), as
# the command resource Ferrule/BindingList does.
# ---------------------------------------------------------------------------

# One rule, as the row reader reads a row: '' is a property not given, as an
# empty cell of a file is; Enabled and Optional are True or False.
class FerruleRule {
    [DscProperty()] [string]$Class = ''
    [DscProperty()] [string]$ComponentID = ''
    [DscProperty()] [string]$Name = ''
    [DscProperty()] [string]$Path = ''
    [DscProperty()] [string]$Enabled = ''
    [DscProperty()] [string]$Optional = ''
}

# Why the baseline is not in its state, as Machine Configuration reads it.
class FerruleReason {
    [DscProperty()] [string]$Code
    [DscProperty()] [string]$Phrase
}

# One baseline: its label (Baseline), its Rules (the last rule that names a
# path wins), and Reasons: each path off its state, each saved row and each
# rule (but an optional one) that names nothing.
[DscResource()]
class FerruleBindingList {
    [DscProperty(Key)] [string]$Baseline
    [DscProperty(Mandatory)] [FerruleRule[]]$Rules
    [DscProperty(NotConfigurable)] [FerruleReason[]]$Reasons

    [FerruleBindingList] Get() {
        $result = $this.RunOperation('Get')
        $state = [FerruleBindingList]::new()
        $state.Baseline = $this.Baseline
        $state.Rules = $this.Rules
        $state.Reasons = [FerruleReason[]]@(foreach ($reason in $result.Reasons) {
                $one = [FerruleReason]::new()
                $one.Code = $reason.Code
                $one.Phrase = $reason.Phrase
                $one
            })
        return $state
    }

    [bool] Test() {
        return $this.RunOperation('Test').InDesiredState
    }

    [void] Set() {
        [void]$this.RunOperation('Set')
    }

    # One operation on the rules; its messages as verbose lines and
    # warnings, and its failure as the exception that the caller reports.
    hidden [object] RunOperation([string]$Operation) {
        $stateArguments = @{ Operation = $Operation; Rules = @($this.Rules); Run = Get-DesiredRun
            Instance = $this.Baseline; Shown = "the baseline '$($this.Baseline)'"
        }
        $result = Invoke-DesiredState @stateArguments
        $failures = @()
        foreach ($message in $result.Messages) {
            if ($message.Level -eq 'Error') { $failures += $message.Text }
            elseif ($message.Level -eq 'Warning') { Write-Warning -Message $message.Text }
            else { Write-Verbose -Message $message.Text }
        }
        if ($result.Status -ne 0) { throw "$($this.Baseline): $($failures -join ' ')" }
        return $result
    }
}
