# Remediation script of a remediation, made by New-FerruleRemediation for
# Intune or Configuration Manager (the line after the baseline says which):
# puts this machine's network bindings back on the baseline below, and says in
# one line which paths it put back and how the machine stands now (the
# module's warnings and errors folded into it). It exits 0 when the machine is
# on the baseline; when it is not, for Intune it exits non-zero, and for
# Configuration Manager it ends with an error. It needs Windows PowerShell 5.1
# and the Ferrule module, and writes nothing on standard error when it succeeds.

# The baseline: the same rows as the detection script's.
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
$left = @()
$drift = @()
$off = @()
$changed = @()
try {
    if (-not (Get-Module -ListAvailable -Name Ferrule)) {
        throw "the Ferrule module is in none of these folders: $($env:PSModulePath -replace ';', ', ') (copy its " +
        'folder to Program Files\WindowsPowerShell\Modules)'
    }
    Import-Module Ferrule -ErrorAction Stop
    # The paths off the baseline before, so that the line can say which of them it put back.
    $off = @(Compare-FerruleBinding -Baseline $baseline -ErrorAction SilentlyContinue -WarningAction SilentlyContinue |
            Where-Object { $_.Drift -eq 'Changed' } | ForEach-Object { $_.Path })
    $changed = @($baseline | Set-FerruleBinding -PassThru -Confirm:$false -ErrorAction SilentlyContinue `
            -ErrorVariable problems -WarningAction SilentlyContinue -WarningVariable warnings)
    if ($problems.Count -eq 0) {
        $drift = @(Compare-FerruleBinding -Baseline $baseline -IncludeEqual -ErrorAction SilentlyContinue `
            -ErrorVariable +problems)
        $left = @($drift | Where-Object { 'Changed', 'Missing' -contains $_.Drift -or ($_.Drift -eq 'Unmatched' -and
            -not $_.Optional) })
    }
} catch {
    $problems += $_
}
$notes = @($warnings | ForEach-Object { "$_" })
if ($problems.Count -gt 0) {
    $said = @($problems | ForEach-Object { $_.Exception.Message } | Where-Object { $_ })
    $line = "ferrule: not put back: " + (@($said) + $notes -join ' | ')
    if ($configurationManager) { throw $line }
    Write-Summary $line
    exit 1
}
if ($left.Count -gt 0) {
    $paths = @($left | ForEach-Object { "$($_.Drift) $($_.ComponentID) $($_.Name) $($_.Path)" })
    $line = "ferrule: still off the baseline: " + (@($paths) + $notes -join '; ')
    if ($configurationManager) { throw $line }
    Write-Summary $line
    exit 2
}
$compared = @($drift | Where-Object { $_.Drift -eq 'Equal' }).Count
# What it changed, each path with its state now, before the state of the whole.
$put = @($changed | Where-Object { $off -contains $_.Path } | ForEach-Object {
        "$($_.Name) $($_.Path) now $($_.Enabled)".Trim() })
$done = $(if ($put.Count -gt 0) { "put back $($put.Count) paths ($($put -join ', ')), now " } else { '' })
Write-Summary ("ferrule: ${done}on the baseline: $compared paths, $($baseline.Count) rows" +
    (@($notes | ForEach-Object { "; $_" }) -join ''))
exit 0
