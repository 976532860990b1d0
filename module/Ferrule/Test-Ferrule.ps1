# Test-Ferrule: ferrule on a real Windows machine beside the platform's own
# view of its bindings. Part of the Ferrule module (dot-sourced by it).

$script:Lltdio = 'ms_lltdio'

# Whether this process has an administrator's rights (an elevated prompt).
function Test-FerruleElevated {
    if ([Environment]::OSVersion.Platform -ne [PlatformID]::Win32NT) { return $false }
    $principal = New-Object Security.Principal.WindowsPrincipal ([Security.Principal.WindowsIdentity]::GetCurrent())
    $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
}

# One run of a ferrule for the check: its exit status and lines.
function Invoke-FerruleCheckRun {
    param([string]$Exe, [string[]]$ArgumentList)
    @(& $script:RunFerrule $Exe @(ConvertTo-FerruleCommandLine $ArgumentList) @())[0]
}

# Bind names and component IDs are compared without regard to case, as Windows compares them.
function Get-FerrulePairKey {
    param($Adapter, $Component)
    "$(([string]$Adapter).ToUpperInvariant())|$(([string]$Component).ToLowerInvariant())"
}

# The platform's bindings by pair (adapter GUID, component ID), and its adapters by GUID.
function Get-FerrulePlatformView {
    $adapters = @{}
    foreach ($adapter in @(Get-NetAdapter -IncludeHidden)) {
        $adapters[([string]$adapter.InterfaceGuid).ToUpperInvariant()] = $adapter
    }
    $byName = @{}
    foreach ($guid in $adapters.Keys) { $byName[[string]$adapters[$guid].Name] = $guid }
    $bindings = @{}
    foreach ($binding in @(Get-NetAdapterBinding -AllBindings -IncludeHidden)) {
        # An adapter that Get-NetAdapter did not give is kept under its name,
        # so that the pair shows as the platform's alone.
        $adapter = $byName[[string]$binding.Name]
        if (-not $adapter) { $adapter = "(adapter $($binding.Name) not in Get-NetAdapter)" }
        $bindings[(Get-FerrulePairKey $adapter $binding.ComponentID)] = [pscustomobject]@{
            Adapter = $adapter; Binding = $binding
        }
    }
    [pscustomobject]@{ Bindings = $bindings; Adapters = $adapters }
}

function Get-FerrulePlatformLine {
    param($Binding)
    "$($Binding.Name) ($($Binding.InterfaceDescription)): $($Binding.ComponentID) ($($Binding.DisplayName)) Enabled=$($Binding.Enabled)"
}

# ferrule's listing: each component's line with its path lines, and the lines
# that are neither (a failure's).
function Read-FerruleCheckListing {
    param([string[]]$Lines)
    $components = New-Object System.Collections.ArrayList
    $others = New-Object System.Collections.ArrayList
    foreach ($line in $Lines) {
        $at = $line.LastIndexOf(': ')
        if ($line.StartsWith('    ') -and $components.Count -gt 0 -and $at -gt 0) {
            $trimmed = $line.Trim()
            $cut = $trimmed.LastIndexOf(': ')
            [void]$components[$components.Count - 1].Paths.Add([pscustomobject]@{
                    Token = $trimmed.Substring(0, $cut); Enabled = $trimmed.Substring($cut + 2) -eq '1'; Line = $line
                    Component = $components[$components.Count - 1]
                })
        } elseif (-not $line.StartsWith(' ') -and $line.EndsWith(')') -and $line.Contains(' (')) {
            [void]$components.Add([pscustomobject]@{
                    Bind = $line.Substring(0, $line.IndexOf(' (')); Line = $line; Paths = (New-Object System.Collections.ArrayList)
                })
        } else {
            [void]$others.Add($line)
        }
    }
    [pscustomobject]@{ Components = $components; Others = $others }
}

# The adapters' paths that bind a component directly, by pair; and the paths
# of any other shape.
function Get-FerruleCheckPairs {
    param($Components)
    $pairs = @{}
    $otherShapes = New-Object System.Collections.ArrayList
    foreach ($component in $Components) {
        foreach ($path in $component.Paths) {
            $parts = $path.Token -split '->'
            if ($parts.Count -eq 2 -and $parts[1].ToUpperInvariant() -eq $component.Bind.ToUpperInvariant()) {
                $pairs[(Get-FerrulePairKey $component.Bind $parts[0])] = $path
            } else {
                [void]$otherShapes.Add($path.Line.Trim())
            }
        }
    }
    [pscustomobject]@{ Pairs = $pairs; OtherShapes = $otherShapes }
}

# What ferrule printed under the adapter that mentions the component.
function Get-FerruleLinesFor {
    param($Components, [string]$Adapter, [string]$ComponentID)
    foreach ($component in $Components) {
        if ($component.Bind.ToUpperInvariant() -eq $Adapter) {
            return , @(@($component.Line) + @($component.Paths | Where-Object { $_.Token.ToLowerInvariant().Contains($ComponentID.ToLowerInvariant()) } |
                        ForEach-Object Line))
        }
    }
    , @("(no component $Adapter in ferrule's class dev)")
}

# Every pair on one side only, and every pair whose states differ.
function Compare-FerruleCheck {
    param($Components, [hashtable]$Pairs, $View)
    $rows = New-Object System.Collections.ArrayList
    foreach ($key in @($View.Bindings.Keys | Sort-Object)) {
        $entry = $View.Bindings[$key]
        $path = $Pairs[$key]
        if ($null -eq $path) {
            $componentId = [string]$entry.Binding.ComponentID
            [void]$rows.Add([pscustomobject]@{ What = 'only the platform has it'; Pair = "$componentId->$($entry.Adapter)"
                    Ferrule = (Get-FerruleLinesFor $Components $entry.Adapter $componentId); Platform = Get-FerrulePlatformLine $entry.Binding })
        } elseif ($path.Enabled -ne [bool]$entry.Binding.Enabled) {
            [void]$rows.Add([pscustomobject]@{ What = 'states differ'; Pair = $path.Token
                    Ferrule = @($path.Component.Line, $path.Line); Platform = Get-FerrulePlatformLine $entry.Binding })
        }
    }
    foreach ($key in @($Pairs.Keys | Sort-Object)) {
        if ($View.Bindings.ContainsKey($key)) { continue }
        $path = $Pairs[$key]
        $adapterGuid, $componentId = $key -split '\|', 2
        $adapter = $View.Adapters[$adapterGuid]
        $known = 'no such adapter'
        if ($adapter) { $known = "$($adapter.Name) ($($adapter.InterfaceDescription))" }
        [void]$rows.Add([pscustomobject]@{ What = 'only ferrule has it'; Pair = $path.Token
                Ferrule = @($path.Component.Line, $path.Line); Platform = "(no binding of $componentId reported for ${adapterGuid}: $known)" })
    }
    $rows
}

function Write-FerruleDisagreement {
    param($Rows)
    Write-Host ('{0,-26} {1,-56} sides' -f 'disagreement', 'pair')
    foreach ($row in $Rows) {
        Write-Host ('{0,-26} {1,-56} ferrule:  {2}' -f $row.What, $row.Pair, $row.Ferrule[0])
        foreach ($line in @($row.Ferrule | Select-Object -Skip 1)) { Write-Host ('{0,-26} {1,-56}           {2}' -f '', '', $line) }
        Write-Host ('{0,-26} {1,-56} platform: {2}' -f '', '', $row.Platform)
    }
}

# The bindings check: whether it passed, and ferrule's adapter paths by pair.
function Test-FerruleBindings {
    param([string]$Exe, $View)
    $run = Invoke-FerruleCheckRun $Exe @('class', 'dev')
    $listing = Read-FerruleCheckListing $run.Lines
    $found = Get-FerruleCheckPairs $listing.Components
    $rows = @(Compare-FerruleCheck $listing.Components $found.Pairs $View)
    $paths = 0
    foreach ($component in $listing.Components) { $paths += $component.Paths.Count }
    Write-Host ("bindings: ferrule's class dev (exit status $($run.Status)): $($listing.Components.Count) adapters, " +
        "$paths paths; the platform: $($View.Adapters.Count) adapters, $($View.Bindings.Count) bindings")
    foreach ($line in $listing.Others) { Write-Host "  ferrule also printed: $line" }
    if ($found.OtherShapes.Count -gt 0) {
        Write-Host ("  $($found.OtherShapes.Count) of ferrule's paths are not of the form COMPONENT->{ADAPTER GUID} " +
            'under their adapter, and are not compared:')
        foreach ($line in $found.OtherShapes) { Write-Host "    $line" }
    }
    if ($rows.Count -gt 0) { Write-FerruleDisagreement $rows }
    $platformOnly = @($rows | Where-Object What -EQ 'only the platform has it').Count
    if ($View.Bindings.Count -gt 0 -and $platformOnly -eq $View.Bindings.Count) {
        Write-Host ("  none of the platform's bindings matches a path of ferrule's: the adapters' bind names are not " +
            'their InterfaceGuid, or the paths are not COMPONENT->{ADAPTER GUID}, as this check assumes')
    }
    [pscustomobject]@{
        Passed = $rows.Count -eq 0 -and $listing.Others.Count -eq 0 -and @(0, 1) -contains $run.Status
        Pairs = $found.Pairs
    }
}

function Get-FerruleLltdioState {
    param([string]$Adapter)
    $entry = (Get-FerrulePlatformView).Bindings[(Get-FerrulePairKey $Adapter $script:Lltdio)]
    if ($null -eq $entry) { return $null }
    [bool]$entry.Binding.Enabled
}

# One ferrule run that changes the one path: what was wrong with it.
function Invoke-FerruleCheckChange {
    param([string]$Exe, $Path, [bool]$Enable, [bool]$Before)
    $mode = 'disable'
    if ($Enable) { $mode = 'enable' }
    $arguments = @('comp', $Path.Component.Bind, 'path', $Path.Token, $mode)
    $run = Invoke-FerruleCheckRun $Exe $arguments
    # The exit status table: a disable that was applied gives 0; an enable
    # gives 0 when the path was enabled before, 1 when it was not.
    $expectedStatus = 0
    if ($Enable -and -not $Before) { $expectedStatus = 1 }
    $expected = @($Path.Component.Line, "    $($Path.Token): $([int]$Before)->$([int]$Enable)", 'Applying changes ... success')
    $problems = @()
    if ($run.Status -ne $expectedStatus) { $problems += "exit status $($run.Status), expected $expectedStatus" }
    if (($run.Lines -join "`n") -ne ($expected -join "`n")) {
        $problems += "printed $(ConvertTo-FerruleListText $run.Lines), expected $(ConvertTo-FerruleListText $expected)"
    }
    Write-Host "  ferrule $($arguments -join ' '): exit status $($run.Status)"
    foreach ($line in $run.Lines) { Write-Host "    | $line" }
    $problems
}

function ConvertTo-FerruleListText {
    param([string[]]$Lines)
    '[' + ((@($Lines) | ForEach-Object { "'" + $_ + "'" }) -join ', ') + ']'
}

# Gives the path its original state again if it has not: what went wrong, or nothing.
function Restore-FerruleCheckPath {
    param([string]$Exe, $Path, [bool]$Original)
    $adapter = $Path.Component.Bind.ToUpperInvariant()
    $state = Get-FerruleLltdioState $adapter
    if ($null -eq $state) { return "the platform no longer reports the binding of $script:Lltdio to $adapter" }
    if ($state -eq $Original) { return }
    Invoke-FerruleCheckChange $Exe $Path $Original $state | Out-Null
    $state = Get-FerruleLltdioState $adapter
    if ($state -ne $Original) {
        $mode = 'disable'
        if ($Original) { $mode = 'enable' }
        $problem = ("NOT PUT BACK: the platform says Enabled=$state, it was $Original; put it back with: " +
            "ferrule comp $($Path.Component.Bind) path $($Path.Token) $mode")
        Write-Host "  $problem"
        return $problem
    }
    Write-Host "  put back as it was (enabled: $Original)"
}

# The round trip, on the first adapter whose ms_lltdio binding both sides know.
function Test-FerruleRoundTrip {
    param([string]$Exe, [hashtable]$Pairs, [string]$Label = 'round trip')
    $view = Get-FerrulePlatformView
    $candidates = @($Pairs.Keys | Sort-Object | Where-Object { $_.EndsWith("|$script:Lltdio") -and $view.Bindings.ContainsKey($_) })
    if ($candidates.Count -eq 0) {
        Write-Host "${Label}: FAILED: no adapter has a binding of $script:Lltdio that both ferrule and the platform report"
        return $false
    }
    $path = $Pairs[$candidates[0]]
    $original = [bool]$view.Bindings[$candidates[0]].Binding.Enabled
    Write-Host "$Label on $($path.Token) (enabled: $original):"
    $problems = @()
    $state = $original
    try {
        foreach ($enable in $false, $true) {
            $step = 'disable'
            if ($enable) { $step = 'enable' }
            $problems += @(Invoke-FerruleCheckChange $Exe $path $enable $state | ForEach-Object { "${step}: $_" })
            $state = Get-FerruleLltdioState $path.Component.Bind.ToUpperInvariant()
            if ($state -ne $enable) {
                $problems += "after the $step, the platform says Enabled=$state"
                break
            }
        }
    } finally {
        $problems += @(Restore-FerruleCheckPath $Exe $path $original)
    }
    foreach ($problem in $problems) { Write-Host "  $problem" }
    $word = 'passed'
    if ($problems.Count -gt 0) { $word = 'FAILED' }
    Write-Host "${Label}: $word"
    $problems.Count -eq 0
}

# The x86 listing beside the x64 one: reported, never failed.
function Compare-FerruleX86 {
    param([string]$X64, [string]$X86)
    $differing = @()
    foreach ($name in 'dev', 'client', 'proto', 'service') {
        $ran = @((Invoke-FerruleCheckRun $X64 @('class', $name)), (Invoke-FerruleCheckRun $X86 @('class', $name)))
        if ($ran[0].Status -eq $ran[1].Status -and ($ran[0].Lines -join "`n") -eq ($ran[1].Lines -join "`n")) { continue }
        $differing += $name
        Write-Host "x86: class ${name}: x64 exit status $($ran[0].Status), x86 exit status $($ran[1].Status)"
        $first = 0
        while ($first -lt $ran[0].Lines.Count -and $first -lt $ran[1].Lines.Count -and $ran[0].Lines[$first] -eq $ran[1].Lines[$first]) { $first++ }
        foreach ($side in @(@('x64', $ran[0]), @('x86', $ran[1]))) {
            $line = '(no more lines)'
            if ($first -lt $side[1].Lines.Count) { $line = $side[1].Lines[$first] }
            Write-Host "  $($side[0]) line $($first + 1): $line"
        }
    }
    if ($differing.Count -gt 0) {
        Write-Host "x86: differs from x64 in class $($differing -join ', ') (reported only)"
        return "x86 differs in $($differing -join ', ')"
    }
    Write-Host 'x86: the same lines and exit status as x64 in all four classes'
    'x86 agrees'
}

<#
.SYNOPSIS
Checks ferrule on this Windows machine against the platform's own view of its bindings.

.DESCRIPTION
Run it elevated, on a scratch or test machine, with the exes of a release. It
makes three checks, prints what it did, and returns a result whose Passed
says whether the first two passed (and Status: 0 passed, 1 failed, 2 not run).
It never ends the session: a script turns the result into its own status.

1. Bindings: ferrule's class dev beside Get-NetAdapterBinding -AllBindings
   -IncludeHidden (Windows 8 and Server 2012 or later). Each adapter's bind
   name in ferrule is taken to be its InterfaceGuid, and a component's binding
   to it the path COMPONENT->{GUID}; every pair on one side only, and every
   pair in two states, is a row of a table.
2. Round trip: the binding of ms_lltdio (which carries none of the machine's
   traffic) to one adapter is disabled and enabled with ferrule, and the
   platform is asked after each step; whatever happens it is then put back as
   it was. It is the only path the check changes.
3. x86: with -X86Path, both exes list all four classes, and an x86 round trip
   is made on the same path (put back with the first exe whatever happens):
   both are reported, and never fail the check.

.PARAMETER Path
The ferrule.exe to check; by default the module's own for this machine.

.PARAMETER X86Path
The x86 ferrule.exe, to compare with the first.

.EXAMPLE
PS C:\> $result = Test-Ferrule -Path .\x64\ferrule.exe -X86Path .\x86\ferrule.exe
PS C:\> if (-not $result.Passed) { exit 1 }

Checks both exes of a release, and fails a script when the check failed.
#>
function Test-Ferrule {
    [CmdletBinding()]
    [OutputType('Ferrule.CheckResult')]
    param(
        [string]$Path = (Get-FerrulePath),
        [string]$X86Path
    )
    $result = [pscustomobject]@{
        PSTypeName = 'Ferrule.CheckResult'; Passed = $false; Status = 2; Bindings = $null; RoundTrip = $null
        X86 = 'x86 not compared'; Summary = $null
    }
    if (-not (Test-FerruleElevated)) {
        $result.Summary = ('Test-Ferrule: run this from an elevated prompt (Run as administrator): ferrule needs the ' +
            "network configuration's write lock; nothing was run")
        Write-Host $result.Summary
        return $result
    }
    try {
        $bindings = Test-FerruleBindings $Path (Get-FerrulePlatformView)
        $roundTrip = Test-FerruleRoundTrip $Path $bindings.Pairs
    } catch {
        $result.Status = 1
        $result.Summary = "Test-Ferrule: FAILED: $($_.Exception.GetType().Name): $($_.Exception.Message)"
        Write-Host $result.Summary
        return $result
    }
    if ($X86Path) {
        $result.X86 = Compare-FerruleX86 $Path $X86Path
        # Whatever the x86 exe does, the first exe puts the path back as it was.
        $candidates = @($bindings.Pairs.Keys | Sort-Object | Where-Object { $_.EndsWith("|$script:Lltdio") })
        $before = $null
        if ($candidates.Count -gt 0) { $before = Get-FerruleLltdioState $bindings.Pairs[$candidates[0]].Component.Bind.ToUpperInvariant() }
        $x86Trip = $false
        try { $x86Trip = Test-FerruleRoundTrip $X86Path $bindings.Pairs 'x86 round trip' }
        finally {
            if ($null -ne $before) { Restore-FerruleCheckPath $Path $bindings.Pairs[$candidates[0]] $before | Out-Null }
        }
        $result.X86 += $(if ($x86Trip) { ', x86 round trip passed' } else { ', x86 round trip failed' })
    }
    $result.Passed = $bindings.Passed -and $roundTrip
    $result.Status = $(if ($result.Passed) { 0 } else { 1 })
    $result.Bindings = $(if ($bindings.Passed) { 'agree' } else { 'disagree' })
    $result.RoundTrip = $(if ($roundTrip) { 'passed' } else { 'failed' })
    $word = $(if ($result.Passed) { 'PASSED' } else { 'FAILED' })
    $result.Summary = "Test-Ferrule: ${word}: bindings $($result.Bindings), round trip $($result.RoundTrip), $($result.X86)"
    Write-Host $result.Summary
    $result
}
