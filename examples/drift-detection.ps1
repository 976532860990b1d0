# Detection script of a remediation, made by New-FerruleRemediation for
# Intune or Configuration Manager (the line after the baseline says which):
# for Intune it exits 0 when this machine's network bindings are as the
# baseline below wants them, and 1 when they drift, a rule of the baseline
# that is not Optional names nothing here, or they cannot be read; for
# Configuration Manager its line is the setting's value, "Compliant" or the
# drift, and it exits 0 whenever it could tell, non-zero only when it could
# not. Either way it writes one line, and nothing on standard error when it
# can tell. It needs Windows PowerShell 5.1 and the Ferrule module.

# The baseline: rows as Set-FerruleBinding takes them (saved rows, or rules).
# baseline begins
$baseline = @(
    [pscustomobject]@{Class='Adapter';ComponentID='ms_tcpip6';Name='*';Enabled=$false}
)
# baseline ends
$configurationManager = $false

# Intune runs a script in 32-bit PowerShell unless told otherwise. On 64-bit
# Windows that one's Program Files is Program Files (x86), and its System32 is
# SysWOW64, so its module path leads to the 32-bit folders alone, never to
# Program Files\WindowsPowerShell\Modules, where the module is installed:
# Import-Module would not find it. So this runs again in the 64-bit one. (The
# exe that the module runs is the machine's architecture's either way.)
if ([Environment]::Is64BitOperatingSystem -and -not [Environment]::Is64BitProcess -and $env:windir) {
    $native = Join-Path $env:windir 'sysnative\WindowsPowerShell\v1.0\powershell.exe'
    if (Test-Path -LiteralPath $native) {
        # This process's own execution policy goes with it, where one is set; else the machine's applies there.
        $policy = @()
        $own = [string](Get-ExecutionPolicy -Scope Process)
        if ($own -ne 'Undefined') { $policy = @('-ExecutionPolicy', $own) }
        & $native -NoProfile -NonInteractive @policy -File $PSCommandPath
        exit $LASTEXITCODE
    }
}

# One line of at most 2,048 characters: all that Intune keeps.
function Write-Summary([string]$Text) {
    $line = ($Text -replace '\s+', ' ').Trim()
    if ($line.Length -gt 2048) { $line = $line.Substring(0, 2045) + '...' }
    [Console]::Out.WriteLine($line)
}

# The module's verdict (Test-FerruleBinding -Detailed) on a machine on the
# baseline, as both scripts say it: the optional rules that name nothing here
# said as such, not counted as rows that name paths.
function Format-OnBaseline($Verdict) {
    $unused = @($Verdict.Unused).Count
    $text = "on the baseline: $($Verdict.Equal) paths"
    if ($Verdict.Equal -gt 0 -or $unused -eq 0) { $text += ", $($Verdict.Rows) rows" }
    if ($unused -eq 1) { $text += '; 1 optional rule names nothing here' }
    if ($unused -gt 1) { $text += "; $unused optional rules name nothing here" }
    $text
}

# Each path or row of a verdict's Off, as both scripts say it.
function Format-Off([object[]]$Off) {
    foreach ($one in $Off) {
        if ($one.Drift -eq 'Unmatched') {
            "Unmatched $($one.Class) $($one.ComponentID) $($one.Name) $($one.Path) (names no path)"
        } else {
            "$($one.Drift) $($one.Name) $($one.Path) (wanted $($one.Wanted), found $($one.Found))"
        }
    }
}

# Each error as both scripts say it, once (an error that ends a command is
# met again on its way out): an adapter's path named by its connection name,
# the adapter's GUID after it, where the error's binding knows it; and
# ferrule's own line without the "ferrule: " that begins this line already.
function Format-Problem([object[]]$Records) {
    $said = New-Object 'System.Collections.Generic.HashSet[string]'
    foreach ($record in $Records) {
        $text = [string]$record.Exception.Message
        if (-not $text) { continue }
        $target = $record.TargetObject
        if ($target -and $target.PSObject.Properties['Path'] -and $target.Class -eq 'Adapter' -and $target.Name) {
            $adapter = @($target.Path -split '->')[-1]
            $bare = "${adapter}: $($target.Path): "
            if ($text.StartsWith($bare)) {
                $text = "$($target.Name) (${adapter}): $($target.Path): " + $text.Substring($bare.Length)
            }
        }
        # The first, which is the mark of ferrule's line; one in parentheses is a note's.
        $text = ([regex]'(?<!\()ferrule: ').Replace($text, '', 1)
        if ($said.Add($text)) { $text }
    }
}

$problems = @()
$warnings = @()
$verdict = $null
try {
    if (-not (Get-Module -ListAvailable -Name Ferrule)) {
        throw "the Ferrule module is in none of these folders: $($env:PSModulePath -replace ';', ', ') (copy its " +
        'folder to Program Files\WindowsPowerShell\Modules)'
    }
    Import-Module Ferrule -ErrorAction Stop
    # The module's own verdict, Test-FerruleBinding's, so that this script, the remediation and the module agree.
    $asked = @{ Baseline = $baseline; Detailed = $true; ErrorAction = 'SilentlyContinue'; ErrorVariable = 'problems'
        WarningAction = 'SilentlyContinue'; WarningVariable = 'warnings'
    }
    $verdict = Test-FerruleBinding @asked
} catch {
    $problems += $_
}
$notes = @($warnings | ForEach-Object { "$_" })
if ($problems.Count -gt 0) {
    Write-Summary ("ferrule: could not tell: " + (@(Format-Problem $problems) + $notes -join ' | '))
    exit 1
}
if (-not $verdict.OnBaseline) {
    $off = @(Format-Off $verdict.Off)
    Write-Summary ("ferrule: $($off.Count) off the baseline: " + (@($off) + $notes -join '; '))
    # Drift is Configuration Manager's value to compare, not a failure to discover.
    if ($configurationManager) { exit 0 }
    exit 1
}
if ($configurationManager) {
    Write-Summary 'Compliant'
    exit 0
}
Write-Summary ("ferrule: $(Format-OnBaseline $verdict)" + (@($notes | ForEach-Object { "; $_" }) -join ''))
exit 0
