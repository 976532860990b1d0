# What the Ferrule module adds to a listing: Get-FerruleBinding of the large
# machine (1,000 adapters of ten paths, 11,000 lines) against ferrule.exe's own
# listing of it, both under Wine through the same wrapper, in one run with the
# module loaded beforehand. Runs are interleaved; prints a Markdown table.
param(
    [Parameter(Mandatory = $true)] [string]$Machine,
    [int]$Runs = 10
)
[Threading.Thread]::CurrentThread.CurrentCulture = [Globalization.CultureInfo]::InvariantCulture
Import-Module (Join-Path (Split-Path $PSScriptRoot) 'module/Ferrule/Ferrule.psd1') -Force
$env:STANDIN_MACHINE = $Machine
Remove-Item env:STANDIN_JOURNAL -ErrorAction SilentlyContinue
$exe = $env:FERRULE_EXE
$listing = @(); $module = @(); $paths = 0
Get-FerruleBinding | Out-Null  # a first run of each, for Wine and the module to settle
for ($i = 0; $i -lt $Runs; $i++) {
    $listing += (Measure-Command { & $exe class dev | Out-Null }).TotalMilliseconds
    $module += (Measure-Command { $script:paths = @(Get-FerruleBinding).Count }).TotalMilliseconds
}
function Get-Median([double[]]$Values) {
    $sorted = @($Values | Sort-Object)
    $sorted[[int][math]::Floor($sorted.Count / 2)]
}
$wine = Get-Median $listing
$objects = Get-Median $module
"$Runs runs of each, interleaved; wall-clock milliseconds, medians; $paths paths."
''
'| What | Median | Against the listing |'
'|---|---:|---:|'
'| ferrule.exe class dev under Wine, its lines read by PowerShell | {0:N0} | 1.00x |' -f $wine
'| Get-FerruleBinding of the same, as objects | {0:N0} | {1:N2}x |' -f $objects, ($objects / $wine)
'| the module''s own time per 1,000 paths | {0:N1} | |' -f (($objects - $wine) / ($paths / 1000))

# Drift and side effects, on the same machine, each against what it adds to:
# Compare-FerruleBinding with a few rules and with a saved listing of every
# path as its baseline, beside Get-FerruleBinding of the same class; and a
# change with its listings before and after, beside ferrule.exe's own run of
# that change.
$rules = @(
    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_p3'; Name = '*'; Enabled = $false }
    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_p6'; Name = '*'; Enabled = $true }
    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_p0'; Enabled = $false }
)
$saved = @(Get-FerruleBinding)
$first = $saved[0]
$get = @(); $few = @(); $all = @(); $change = @(); $alone = @()
Compare-FerruleBinding -Baseline $rules | Out-Null
for ($i = 0; $i -lt $Runs; $i++) {
    $get += (Measure-Command { Get-FerruleBinding -Class Adapter | Out-Null }).TotalMilliseconds
    $few += (Measure-Command { Compare-FerruleBinding -Baseline $rules | Out-Null }).TotalMilliseconds
    $all += (Measure-Command { Compare-FerruleBinding -Baseline $saved | Out-Null }).TotalMilliseconds
    $alone += (Measure-Command { & $exe comp $first.ComponentID path $first.Path disable | Out-Null }).TotalMilliseconds
    & $exe comp $first.ComponentID path $first.Path enable | Out-Null
    $change += (Measure-Command {
            Disable-FerruleBinding -ComponentID $first.ComponentID -Path $first.Path -Confirm:$false -WarningAction SilentlyContinue
        }).TotalMilliseconds
    & $exe comp $first.ComponentID path $first.Path enable | Out-Null
}
$getMedian = Get-Median $get
$aloneMedian = Get-Median $alone
''
'| What | Median | Against |'
'|---|---:|---:|'
'| Get-FerruleBinding -Class Adapter | {0:N0} | 1.00x |' -f $getMedian
'| Compare-FerruleBinding, a baseline of 3 rules | {0:N0} | {1:N2}x |' -f (Get-Median $few), ((Get-Median $few) / $getMedian)
'| Compare-FerruleBinding, a saved listing of all {2} paths as its baseline | {0:N0} | {1:N2}x |' -f (Get-Median $all), ((Get-Median $all) / $getMedian), $saved.Count
'| ferrule.exe disabling one path, alone | {0:N0} | 1.00x |' -f $aloneMedian
'| Disable-FerruleBinding of that path, its listings before and after included | {0:N0} | {1:N2}x |' -f (Get-Median $change), ((Get-Median $change) / $aloneMedian)
