# The Windows check's own work (Test-Ferrule): ferrule on a real Windows
# machine beside the platform's own view of its bindings.

$script:Lltdio = 'ms_lltdio'

# Whether this process has an administrator's rights (an elevated prompt).
function Test-Elevated {
    if ([Environment]::OSVersion.Platform -ne [PlatformID]::Win32NT) { return $false }
    $principal = New-Object Security.Principal.WindowsPrincipal ([Security.Principal.WindowsIdentity]::GetCurrent())
    $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
}

# One run of a ferrule for the check: its exit status and lines.
function Invoke-CheckRun {
    param([string]$Exe, [string[]]$ArgumentList)
    @(& $script:RunExe -Path $Exe -CommandLines @(ConvertTo-CommandLine -ArgumentList $ArgumentList) -StopAt @() `
            -Blocks (Get-RemoteBlock))[0]
}

# Bind names and component IDs are compared without regard to case, as Windows compares them.
function Get-PairKey {
    param($Adapter, $Component)
    "$(([string]$Adapter).ToUpperInvariant())|$(([string]$Component).ToLowerInvariant())"
}

# The platform's bindings by pair (adapter GUID, component ID), and its adapters by GUID.
function Get-PlatformView {
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
        $bindings[(Get-PairKey $adapter $binding.ComponentID)] = [pscustomobject]@{
            Adapter = $adapter; Binding = $binding
        }
    }
    [pscustomobject]@{ Bindings = $bindings; Adapters = $adapters }
}

function Get-PlatformLine {
    param($Binding)
    "$($Binding.Name) ($($Binding.InterfaceDescription)): " +
    "$($Binding.ComponentID) ($($Binding.DisplayName)) Enabled=$($Binding.Enabled)"
}

# ferrule's listing: each component's line with its path lines, and the lines
# that are neither (a failure's).
function Read-CheckListing {
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
                    Bind = $line.Substring(0, $line.IndexOf(' (')); Line = $line;
                        Paths = (New-Object System.Collections.ArrayList)
                })
        } else {
            [void]$others.Add($line)
        }
    }
    [pscustomobject]@{ Components = $components; Others = $others }
}

# The adapters' paths that bind a component directly, by pair (the adapter
# and the component, as the module reads an adapter binding: InterfaceGuid
# and ComponentID); and the paths of any other shape.
function Get-CheckPair {
    param($Components)
    $pairs = @{}
    $otherShapes = New-Object System.Collections.ArrayList
    foreach ($component in $Components) {
        foreach ($path in $component.Paths) {
            $read = [Ferrule.Binding]::Listed('Adapter', $component.Bind, '', $path.Token, $path.Enabled, '', '', '')
            $parts = $path.Token -split '->'
            if ($parts.Count -eq 2 -and $parts[1].ToUpperInvariant() -eq $read.InterfaceGuid.ToUpperInvariant()) {
                $pairs[(Get-PairKey $read.InterfaceGuid $read.ComponentID)] = $path
            } else {
                [void]$otherShapes.Add($path.Line.Trim())
            }
        }
    }
    [pscustomobject]@{ Pairs = $pairs; OtherShapes = $otherShapes }
}

# What ferrule printed under the adapter that mentions the component.
function Get-CheckLine {
    param($Components, [string]$Adapter, [string]$ComponentID)
    foreach ($component in $Components) {
        if ($component.Bind.ToUpperInvariant() -eq $Adapter) {
            return , @(@($component.Line) +
                @($component.Paths | Where-Object {
                $_.Token.ToLowerInvariant().Contains($ComponentID.ToLowerInvariant()) } |
                        ForEach-Object Line))
        }
    }
    , @("(no component $Adapter in ferrule's class dev)")
}

# Every pair on one side only, and every pair whose states differ.
function Compare-CheckListing {
    param($Components, [hashtable]$Pairs, $View)
    $rows = New-Object System.Collections.ArrayList
    foreach ($key in @($View.Bindings.Keys | Sort-Object)) {
        $entry = $View.Bindings[$key]
        $path = $Pairs[$key]
        if ($null -eq $path) {
            $componentId = [string]$entry.Binding.ComponentID
            [void]$rows.Add([pscustomobject]@{ What = 'only the platform has it';
                Pair = "$componentId->$($entry.Adapter)"
                    Ferrule = (Get-CheckLine -Components $Components -Adapter $entry.Adapter `
                        -ComponentID $componentId); Platform = Get-PlatformLine $entry.Binding })
        } elseif ($path.Enabled -ne [bool]$entry.Binding.Enabled) {
            [void]$rows.Add([pscustomobject]@{ What = 'states differ'; Pair = $path.Token
                    Ferrule = @($path.Component.Line, $path.Line); Platform = Get-PlatformLine $entry.Binding })
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
                Ferrule = @($path.Component.Line, $path.Line);
                    Platform = "(no binding of $componentId reported for ${adapterGuid}: $known)" })
    }
    $rows
}

function Write-Disagreement {
    param($Rows)
    Write-Host ('{0,-26} {1,-56} sides' -f 'disagreement', 'pair')
    foreach ($row in $Rows) {
        Write-Host ('{0,-26} {1,-56} ferrule:  {2}' -f $row.What, $row.Pair, $row.Ferrule[0])
        foreach ($line in @($row.Ferrule | Select-Object -Skip 1)) { Write-Host ('{0,-26} {1,-56}           {2}' -f
            '', '', $line) }
        Write-Host ('{0,-26} {1,-56} platform: {2}' -f '', '', $row.Platform)
    }
}

# The bindings check: whether it passed, and ferrule's adapter paths by pair.
function Test-CheckBinding {
    param([string]$Exe, $View)
    $run = Invoke-CheckRun $Exe @('class', 'dev')
    $listing = Read-CheckListing $run.Lines
    $found = Get-CheckPair $listing.Components
    $rows = @(Compare-CheckListing -Components $listing.Components -Pairs $found.Pairs -View $View)
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
    if ($rows.Count -gt 0) { Write-Disagreement $rows }
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
