# What the Ferrule module adds to a listing: Get-FerruleBinding of the large
# machine (adapters of ten paths each, Paths in all) against ferrule.exe's own
# listing of it, both under Wine through the same wrapper, in one run with the
# module loaded beforehand. Runs are interleaved; prints Markdown tables. Every
# row checks that what it timed did its work (the lines, objects or change
# that it should give): any error, or a row that did not, ends the script with
# an error that names the row.
param(
    [Parameter(Mandatory = $true)] [string]$Machine,
    [Parameter(Mandatory = $true)] [int]$Paths,
    [int]$Runs = 10
)
$ErrorActionPreference = 'Stop'
[Threading.Thread]::CurrentThread.CurrentCulture = [Globalization.CultureInfo]::InvariantCulture
# This host's blocks of the module's seam: it is no Windows.
$env:FERRULE_SUITE_HOST = Join-Path (Split-Path $PSScriptRoot) 'tests/module/SuiteHost.ps1'
Import-Module (Join-Path (Split-Path $PSScriptRoot) 'module/Ferrule/Ferrule.psd1') -Force
$env:STANDIN_MACHINE = $Machine
Remove-Item env:STANDIN_JOURNAL -ErrorAction SilentlyContinue
$exe = $env:FERRULE_EXE
$adapters = $Paths / 10

function Assert-Row([string]$Row, [bool]$Done, [string]$Why) {
    if (-not $Done) { throw "${Row}: $Why" }
}

function Get-Median([double[]]$Values) {
    $sorted = @($Values | Sort-Object)
    $sorted[[int][math]::Floor($sorted.Count / 2)]
}

# ferrule.exe's listing, read by PowerShell: every path's line and every heading (the last pads the output).
function Measure-Listing {
    $took = (Measure-Command { $script:lines = @(& $exe class dev) }).TotalMilliseconds
    Assert-Row 'ferrule.exe class dev' ($LASTEXITCODE -eq 1 -and $script:lines.Count -eq $Paths + $adapters + 1) `
        "exit status $LASTEXITCODE and $($script:lines.Count) lines: $(@($script:lines)[0])"
    $took
}

function Measure-Get([string]$Row, [scriptblock]$Command, [int]$Count) {
    $took = (Measure-Command { $script:got = @(& $Command) }).TotalMilliseconds
    Assert-Row $Row ($script:got.Count -eq $Count) "$($script:got.Count) objects, not $Count"
    $took
}

$null = Measure-Listing
$null = Measure-Get 'Get-FerruleBinding' { Get-FerruleBinding } $Paths  # a first run of each, for Wine and the module to settle
$listing = @(); $module = @(); $pairs = @()
for ($i = 0; $i -lt $Runs; $i++) {
    $one = Measure-Listing
    $two = Measure-Get 'Get-FerruleBinding' { Get-FerruleBinding } $Paths
    $listing += $one; $module += $two; $pairs += $two / $one
}
$wine = Get-Median $listing
$objects = Get-Median $module
"$Runs pairs, interleaved; wall-clock milliseconds, medians; $Paths paths."
''
'| What | Median | Against the listing |'
'|---|---:|---:|'
'| ferrule.exe class dev under Wine, its lines read by PowerShell | {0:N0} | 1.00x |' -f $wine
'| Get-FerruleBinding of the same, as objects | {0:N0} | {1:N2}x (pairs: {2:N2}x) |' -f $objects, ($objects / $wine),
(Get-Median $pairs)
'| the module''s own time per 1,000 paths | {0:N1} | |' -f (($objects - $wine) / ($Paths / 1000))

# Drift and side effects, on the same machine, each against what it adds to:
# Compare-FerruleBinding with a few rules and with a saved listing of every
# path as its baseline, beside Get-FerruleBinding of the same class; and a
# change with its listings before and after, beside ferrule.exe's own run of
# that change, of a path that is enabled.
$rules = @(
    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_p3'; Name = '*'; Enabled = $false }
    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_p6'; Name = '*'; Enabled = $true }
    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_p0'; Enabled = $false }
)
# The rules' drift: every ms_p3 path enabled, every ms_p6 path disabled, every ms_p0 path enabled.
$drifting = 0
foreach ($p in 3, 6, 0) {
    for ($a = 0; $a -lt $adapters; $a++) { if ((($a + $p) % 3 -ne 0) -ne ($p -eq 6)) { $drifting++ } }
}
$saved = @(Get-FerruleBinding)
Assert-Row 'the saved listing' ($saved.Count -eq $Paths) "$($saved.Count) paths, not $Paths"
$first = @($saved | Where-Object { $_.Enabled -and $_.ComponentID -and $_.Path })[0]
Assert-Row 'the path changed' ($null -ne $first) 'no path is enabled'
$get = @(); $few = @(); $all = @(); $change = @(); $alone = @()
# The change's ferrule runs, as its -Verbose trail names each: the selection's listing (its class's listing
# before), the other classes before, the change, and each class that had a path after.
$trail = @(Disable-FerruleBinding -ComponentID $first.ComponentID -Path $first.Path -Confirm:$false -Verbose `
        -WarningAction SilentlyContinue 4>&1 | ForEach-Object { "$_" })
$null = & $exe comp $first.InterfaceGuid path $first.Path enable
$changeRuns = @($trail | Where-Object { $_ -like '*: ferrule *' }).Count
Assert-Row 'the runs of a change of one path' ($changeRuns -ge 3 -and $changeRuns -le 8) "$changeRuns runs: $($trail -join ' | ')"
$null = Measure-Get 'Compare-FerruleBinding, 3 rules' { Compare-FerruleBinding -Baseline $rules } $drifting
for ($i = 0; $i -lt $Runs; $i++) {
    $get += Measure-Get 'Get-FerruleBinding -Class Adapter' { Get-FerruleBinding -Class Adapter } $Paths
    $few += Measure-Get 'Compare-FerruleBinding, 3 rules' { Compare-FerruleBinding -Baseline $rules } $drifting
    $all += Measure-Get 'Compare-FerruleBinding, the saved listing' { Compare-FerruleBinding -Baseline $saved } 0
    $said = $null
    $alone += (Measure-Command {
            $script:said = @(& $exe comp $first.InterfaceGuid path $first.Path disable) }).TotalMilliseconds
    Assert-Row 'ferrule.exe disabling one path' ($LASTEXITCODE -eq 0 -and $said[-1] -eq 'Applying changes ... success' -and
        ($said -like "*: 1->0").Count -eq 1) ($said -join ' | ')
    $null = & $exe comp $first.InterfaceGuid path $first.Path enable
    $change += Measure-Get 'Disable-FerruleBinding of one path' {
        Disable-FerruleBinding -ComponentID $first.ComponentID -Path $first.Path -PassThru -Confirm:$false `
            -WarningAction SilentlyContinue | Where-Object { -not $_.Enabled }
    } 1
    $null = & $exe comp $first.InterfaceGuid path $first.Path enable
}
$getMedian = Get-Median $get
$aloneMedian = Get-Median $alone
''
'| What | Median | Against |'
'|---|---:|---:|'
'| Get-FerruleBinding -Class Adapter | {0:N0} | 1.00x |' -f $getMedian
'| Compare-FerruleBinding, a baseline of 3 rules | {0:N0} | {1:N2}x |' -f (Get-Median $few), ((Get-Median $few) / $getMedian)
'| Compare-FerruleBinding, a saved listing of all {2:N0} paths as its baseline | {0:N0} | {1:N2}x |' -f (Get-Median $all),
((Get-Median $all) / $getMedian), $saved.Count
'| ferrule.exe disabling one path, alone | {0:N0} | 1.00x |' -f $aloneMedian
'| Disable-FerruleBinding of that path, its listings before and after included ({2} ferrule runs) | {0:N0} | {1:N2}x |' -f
(Get-Median $change), ((Get-Median $change) / $aloneMedian), $changeRuns

# DSC's test of a baseline of 10 rules, as DSC runs the command resource: the
# manifest's command, in a PowerShell of its own that loads the module and
# compiles its C#, in the manifest's folder, the instance on its input;
# beside ferrule.exe's listing of the same class.
$folder = Join-Path (Split-Path $PSScriptRoot) 'module/Ferrule/DSC'
$manifest = [IO.File]::ReadAllText((Join-Path $folder 'ferrule.dsc.resource.json')) | ConvertFrom-Json
$pwsh = $env:FERRULE_PWSH
if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
$ten = @(for ($p = 0; $p -lt 10; $p++) {
        [ordered]@{ class = 'Adapter'; componentId = "ms_p$p"; name = '*'; enabled = ($p % 2 -eq 0) } })
$instance = ConvertTo-Json -Compress -Depth 4 -InputObject @{ rules = $ten }
function Measure-DscTest {
    Push-Location $folder
    try {
        $took = (Measure-Command { $script:answer = @($instance | & $pwsh @($manifest.test.args)) }).TotalMilliseconds
    } finally {
        Pop-Location
    }
    $state = $(if ($script:answer.Count -gt 0) { $script:answer[0] | ConvertFrom-Json })
    Assert-Row 'dsc test of 10 rules' ($LASTEXITCODE -eq 0 -and $state -and $state._inDesiredState -eq $false -and
        @($state.paths).Count -eq $Paths) "exit status ${LASTEXITCODE}: $($script:answer -join ' | ')"
    $took
}
$null = Measure-DscTest
$dsc = @(); $listed = @()
for ($i = 0; $i -lt $Runs; $i++) {
    $listed += Measure-Listing
    $dsc += Measure-DscTest
}
''
'| What | Median | Against the listing |'
'|---|---:|---:|'
'| ferrule.exe class dev under Wine, its lines read by PowerShell | {0:N0} | 1.00x |' -f (Get-Median $listed)
'| the DSC resource''s test of a baseline of 10 rules, a PowerShell of its own | {0:N0} | {1:N2}x |' -f (Get-Median $dsc),
((Get-Median $dsc) / (Get-Median $listed))
