# Detection script of a remediation, made by New-FerruleRemediation for
# Intune or Configuration Manager (the line after the baseline says which):
# for Intune it exits 0 when this machine's network bindings are as the
# baseline below wants them, and 1 when they drift, a rule of the baseline
# names nothing here, or they cannot be read; for Configuration Manager its
# line is the setting's value, "Compliant" or the drift, and it exits 0
# whenever it could tell, non-zero only when it could not. Either way it
# writes one line, and nothing on standard error when it can tell. It needs
# Windows PowerShell 5.1 and the Ferrule module.

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

$problems = @()
$warnings = @()
$drift = @()
try {
    if (-not (Get-Module -ListAvailable -Name Ferrule)) {
        throw "the Ferrule module is in none of these folders: $($env:PSModulePath -replace ';', ', ') (copy its " +
        'folder to Program Files\WindowsPowerShell\Modules)'
    }
    Import-Module Ferrule -ErrorAction Stop
    $drift = @(Compare-FerruleBinding -Baseline $baseline -IncludeEqual -ErrorAction SilentlyContinue `
        -ErrorVariable problems `
            -WarningAction SilentlyContinue -WarningVariable warnings)
} catch {
    $problems += $_
}
$notes = @($warnings | ForEach-Object { "$_" })
if ($problems.Count -gt 0) {
    $said = @($problems | ForEach-Object { $_.Exception.Message } | Where-Object { $_ })
    Write-Summary ("ferrule: could not tell: " + (@($said) + $notes -join ' | '))
    exit 1
}
# A rule that names nothing here (a typo) is drift too, unless it is Optional.
$off = @($drift | Where-Object { 'Changed', 'Missing' -contains $_.Drift -or ($_.Drift -eq 'Unmatched' -and
    -not $_.Optional) })
if ($off.Count -gt 0) {
    $paths = @($off | ForEach-Object {
            if ($_.Drift -eq 'Unmatched') {
                "Unmatched $($_.Class) $($_.ComponentID) $($_.Name) $($_.Path) (names no path)" }
            else { "$($_.Drift) $($_.Name) $($_.Path) (wanted $($_.Wanted), found $($_.Found))" }
        })
    Write-Summary ("ferrule: $($off.Count) off the baseline: " + (@($paths) + $notes -join '; '))
    # Drift is Configuration Manager's value to compare, not a failure to discover.
    if ($configurationManager) { exit 0 }
    exit 1
}
$compared = @($drift | Where-Object { $_.Drift -eq 'Equal' }).Count
if ($compared -eq 0) {
    Write-Summary ("ferrule: could not tell: the baseline names no path here" +
        (@($notes | ForEach-Object { "; $_" }) -join ''))
    exit 1
}
if ($configurationManager) {
    Write-Summary 'Compliant'
    exit 0
}
Write-Summary ("ferrule: on the baseline: $compared paths, $($baseline.Count) rows" +
    (@($notes | ForEach-Object { "; $_" }) -join ''))
exit 0
