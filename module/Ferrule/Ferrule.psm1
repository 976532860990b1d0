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

#region Running ferrule

# The ferrule to run: FERRULE_EXE's, else the package's own for this machine.
function Get-FerrulePath {
    if ($env:FERRULE_EXE) { return $env:FERRULE_EXE }
    $architecture = 'x86'
    if ([Environment]::Is64BitOperatingSystem) { $architecture = 'x64' }
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

function Test-FerruleOnWindows {
    [Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT
}

# Runs ferrule once and returns its exit status and lines. On Windows ferrule
# writes redirected output in the console's output code page: for the run, that
# is made UTF-8, so that no name loses a character the console's own code page
# lacks. Without a console ferrule writes the OEM code page, which is read so.
function Invoke-FerruleExe {
    param([string[]]$ArgumentList)
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = Get-FerrulePath
    $info.Arguments = (@($ArgumentList | ForEach-Object { ConvertTo-FerruleArgument $_ })) -join ' '
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $true
    $encoding = New-Object System.Text.UTF8Encoding $false
    $restore = $null
    if (Test-FerruleOnWindows) {
        try {
            $restore = [Console]::OutputEncoding
            [Console]::OutputEncoding = $encoding
        } catch {
            $restore = $null
            $encoding = [Text.Encoding]::GetEncoding([Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
        }
    }
    $info.StandardOutputEncoding = $encoding
    try {
        $process = [Diagnostics.Process]::Start($info)
        $text = $process.StandardOutput.ReadToEnd()
        $process.WaitForExit()
        $status = $process.ExitCode
        $process.Dispose()
    } finally {
        if ($null -ne $restore) { [Console]::OutputEncoding = $restore }
    }
    $lines = @($text -split "`r?`n")
    if ($lines.Count -gt 0 -and $lines[-1] -eq '') { $lines = @($lines | Select-Object -First ($lines.Count - 1)) }
    [pscustomobject]@{ Status = $status; Lines = $lines }
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

#region Errors

function New-FerruleErrorRecord {
    param([string]$Message, [string]$Category, $Target, [string]$Id = $Category)
    $exception = New-Object System.InvalidOperationException $Message
    New-Object System.Management.Automation.ErrorRecord $exception, "Ferrule.$Id",
        ([System.Management.Automation.ErrorCategory]$Category), $Target
}

# A run that ended otherwise than with its lines: a stop ends the pipeline;
# refused arguments, or a ferrule that cannot be started, are errors.
function Assert-FerruleRun {
    param($Cmdlet, $Run, $Target)
    if ($script:StoppedStatuses -contains $Run.Status) {
        $Cmdlet.ThrowTerminatingError((New-FerruleErrorRecord "ferrule was stopped (exit status $($Run.Status))" `
                    'OperationStopped' $Target))
    }
    if ($Run.Status -eq 255) {
        $Cmdlet.WriteError((New-FerruleErrorRecord "ferrule refused its arguments: $($Run.Lines -join ' ')" `
                    'InvalidArgument' $Target))
        return $false
    }
    $true
}

function Write-FerruleFailure {
    param($Cmdlet, $Failure, $Target)
    $Cmdlet.WriteError((New-FerruleErrorRecord "ferrule: $($Failure.Line)" $Failure.Category $Target))
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

# The connection names of the machine's adapters, by interface GUID: from
# Get-NetAdapter (Windows 8 and later), else from Win32_NetworkAdapter
# (Windows 7, Server 2008 R2). Empty where neither is there.
function Get-FerruleAdapterName {
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

# The words of one listing: ferrule compares a single value without wildcards
# itself (as Windows compares names); anything else is filtered here.
function Get-FerruleListingArgument {
    param([string]$Class, [string[]]$ComponentID, [string[]]$Path)
    $arguments = @('class', $script:ClassWords[$Class])
    if (Test-FerruleLiteral $ComponentID) { $arguments += 'comp', $ComponentID[0] }
    if (Test-FerruleLiteral $Path) { $arguments += 'path', $Path[0] }
    $arguments
}

# One listing: its paths as Ferrule.Binding objects, and whether anything
# failed (each failure written as an error). No paths at all when the listing
# itself could not be made.
function Get-FerruleListing {
    param($Cmdlet, [string]$Class, [string[]]$ArgumentList, $Target, [hashtable]$AdapterNames)
    $listing = [pscustomobject]@{ Bindings = @(); Failed = $true }
    $run = Invoke-FerruleExe $ArgumentList
    if (-not (Assert-FerruleRun $Cmdlet $run $Target)) { return $listing }
    $output = Read-FerruleOutput $run.Lines $Class $AdapterNames
    foreach ($failure in $output.Failures) { Write-FerruleFailure $Cmdlet $failure $Target }
    $listing.Failed = $output.Failures.Count -gt 0
    $listing.Bindings = $output.Paths
    $listing
}

# The bindings that a selection names, from one listing. -Name stands for the
# adapters of those connection names. A selection that matches nothing is an
# error; a class without paths is not.
function Get-FerruleSelected {
    param($Cmdlet, [string]$Class, [string[]]$ComponentID, [string[]]$Path, [string[]]$DisplayName,
        [string[]]$Name)
    $adapterNames = @{}
    if ($Class -eq 'Adapter') { $adapterNames = Get-FerruleAdapterName }
    $selection = "-Class $Class"
    if ($Name) {
        $selection += " -Name $($Name -join ',')"
        foreach ($one in $Name) {
            if (-not (Test-FerruleWildcard $one) -and -not ($adapterNames.Values -contains $one)) {
                $Cmdlet.WriteError((New-FerruleErrorRecord "No network adapter is named '$one'." 'ObjectNotFound' $one))
            }
        }
        $ids = @($adapterNames.Keys | Where-Object { Test-FerruleLike $adapterNames[$_] $Name })
        if ($ComponentID) { $ids = @($ids | Where-Object { Test-FerruleLike $_ $ComponentID }) }
        if ($ids.Count -eq 0) { return }
        $ComponentID = $ids
    }
    if ($ComponentID) { $selection += " -ComponentID $($ComponentID -join ',')" }
    if ($Path) { $selection += " -Path $($Path -join ',')" }
    if ($DisplayName) { $selection += " -DisplayName $($DisplayName -join ',')" }

    $arguments = @(Get-FerruleListingArgument $Class $ComponentID $Path)
    $filterIds = $ComponentID -and $arguments -notcontains 'comp'
    $filterPaths = $Path -and $arguments -notcontains 'path'
    $listing = Get-FerruleListing $Cmdlet $Class $arguments $selection $adapterNames
    $selected = $listing.Bindings
    if ($filterIds -or $filterPaths -or $DisplayName) {
        $selected = @(foreach ($one in $listing.Bindings) {
                if ($filterIds -and -not (Test-FerruleLike $one.ComponentID $ComponentID)) { continue }
                if ($filterPaths -and -not (Test-FerruleLike $one.Path $Path)) { continue }
                if ($DisplayName -and -not (Test-FerruleLike $one.DisplayName $DisplayName)) { continue }
                $one
            })
    }
    $selected
    if ($selected.Count -eq 0 -and -not $listing.Failed -and ($Name -or $ComponentID -or $Path -or $DisplayName)) {
        $Cmdlet.WriteError((New-FerruleErrorRecord "No binding path matches $selection." 'ObjectNotFound' $selection))
    }
}

#endregion

#region Changing bindings

# Changes one path to the state wanted, unless it is in that state already;
# the object that comes back says what it is now.
function Set-FerruleOne {
    param($Cmdlet, $Current, [bool]$Enabled, [bool]$PassThru)
    $result = $Current.Clone()
    if ($Current.Enabled -eq $Enabled) {
        if ($PassThru) { $result }
        return
    }
    $action = 'Disable'
    if ($Enabled) { $action = 'Enable' }
    $target = "$($Current.ComponentID): $($Current.Path)"
    if (-not $Cmdlet.ShouldProcess($target, "$action binding path")) { return }

    $arguments = @('class', $script:ClassWords[$Current.Class], 'comp', $Current.ComponentID, 'path', $Current.Path,
        $action.ToLowerInvariant())
    $run = Invoke-FerruleExe $arguments
    if (-not (Assert-FerruleRun $Cmdlet $run $Current)) { return }
    $output = Read-FerruleOutput $run.Lines $Current.Class
    foreach ($failure in $output.Failures) { Write-FerruleFailure $Cmdlet $failure $Current }
    if ($output.Failures.Count -gt 0) { return }
    if ($output.Paths.Count -eq 0 -or -not $output.Applied.ContainsKey($output.Paths[0].ComponentID)) {
        $Cmdlet.WriteError((New-FerruleErrorRecord "No binding path $target is there to $($action.ToLowerInvariant())." `
                    'ObjectNotFound' $Current))
        return
    }
    $code = $output.Applied[$output.Paths[0].ComponentID]
    if ($code -eq $script:RebootCode) {
        $result.RebootRequired = $true
        $Cmdlet.WriteWarning("$target`: the change is made; a restart completes it ($($run.Lines[-1])).")
    } elseif ($code) {
        $Cmdlet.WriteWarning("$target`: $($run.Lines[-1])")
    }
    $result.Enabled = $Enabled
    if ($PassThru) { $result }
}

# The current state of every path of a class, by component and path, from one
# listing per class and command; kept up to date by the command's own changes.
function Find-FerruleCurrent {
    param($Cmdlet, [hashtable]$Cache, $Wanted)
    $class = [string]$Wanted.Class
    if (-not $Cache.ContainsKey($class)) {
        $Cache[$class] = $null
        $byKey = @{}
        $adapterNames = @{}
        if ($class -eq 'Adapter') { $adapterNames = Get-FerruleAdapterName }
        $arguments = @('class', $script:ClassWords[$class])
        foreach ($one in (Get-FerruleListing $Cmdlet $class $arguments "-Class $class" $adapterNames).Bindings) {
            $byKey["$($one.ComponentID)`n$($one.Path)"] = $one
        }
        $Cache[$class] = $byKey
    }
    $byKey = $Cache[$class]
    $key = "$($Wanted.ComponentID)`n$($Wanted.Path)"
    if ($byKey.ContainsKey($key)) { return $byKey[$key] }
    $Cmdlet.WriteError((New-FerruleErrorRecord "No binding path $($Wanted.ComponentID): $($Wanted.Path) of class $class." `
                'ObjectNotFound' $Wanted))
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

# What Disable-FerruleBinding and Enable-FerruleBinding share: bindings by
# selection or from the pipeline, each set to one state.
function Invoke-FerruleChange {
    param($Cmdlet, [hashtable]$Bound, [bool]$Enabled, [hashtable]$Cache)
    $passThru = [bool]$Bound['PassThru']
    if ($Bound.ContainsKey('InputObject')) {
        foreach ($item in $Bound['InputObject']) {
            $wanted = [pscustomobject]@{
                Class = ConvertTo-FerruleClass $item.Class; ComponentID = [string]$item.ComponentID; Path = [string]$item.Path
            }
            if ($null -eq $wanted.Class) {
                $Cmdlet.WriteError((New-FerruleErrorRecord "Class must be Adapter, Client, Protocol or Service, not '$($item.Class)'." `
                            'InvalidArgument' $item))
                continue
            }
            $current = Find-FerruleCurrent $Cmdlet $Cache $wanted
            if ($current) { Set-FerruleOne $Cmdlet $current $Enabled $passThru }
        }
        return
    }
    $class = 'Adapter'
    if ($Bound.ContainsKey('Class')) { $class = $Bound['Class'] }
    if ($Bound.ContainsKey('Name')) { $class = 'Adapter' }
    $selected = @(Get-FerruleSelected $Cmdlet $class $Bound['ComponentID'] $Bound['Path'] $Bound['DisplayName'] $Bound['Name'])
    foreach ($current in $selected) { Set-FerruleOne $Cmdlet $current $Enabled $passThru }
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
        [SupportsWildcards()] [string[]]$Name
    )
    if ($Name) { $Class = 'Adapter' }
    Get-FerruleSelected $PSCmdlet $Class $ComponentID $Path $DisplayName $Name
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
        [switch]$PassThru
    )
    begin { $cache = @{} }
    process { Invoke-FerruleChange $PSCmdlet $PSBoundParameters $false $cache }
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
        [switch]$PassThru
    )
    begin { $cache = @{} }
    process { Invoke-FerruleChange $PSCmdlet $PSBoundParameters $true $cache }
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
        [switch]$PassThru
    )
    begin { $cache = @{} }
    process {
        $wanted = [pscustomobject]@{ Class = ConvertTo-FerruleClass $Class; ComponentID = $ComponentID; Path = $Path }
        $state = ConvertTo-FerruleState $Enabled
        if ($null -eq $wanted.Class -or $null -eq $state) {
            $message = "Class must be Adapter, Client, Protocol or Service, and Enabled True or False, not '$Class' and '$Enabled'."
            $PSCmdlet.WriteError((New-FerruleErrorRecord $message 'InvalidArgument' $wanted))
            return
        }
        $current = Find-FerruleCurrent $PSCmdlet $cache $wanted
        if ($current) { Set-FerruleOne $PSCmdlet $current $state $PassThru.IsPresent }
    }
}

#endregion

Export-ModuleMember -Function Get-FerruleBinding, Disable-FerruleBinding, Enable-FerruleBinding, Set-FerruleBinding
