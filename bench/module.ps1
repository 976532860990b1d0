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
