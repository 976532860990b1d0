<#
.SYNOPSIS
Writes the detection and remediation scripts of a remediation from one baseline.

.DESCRIPTION
Writes two scripts into a folder, each one file with the baseline inside,
standing alone as Intune or Configuration Manager takes it: for -For Intune,
drift-detection.ps1 (exit 0 on the baseline, 1 off it) and
drift-remediation.ps1; for -For ConfigurationManager, drift-discovery.ps1
(its line is the setting's value: "Compliant", or the drift; it exits 0
whenever it could tell) and drift-remediation.ps1 (it ends with an error when
the machine is not put back). The baseline is the rows that Set-FerruleBinding
takes; each is written as data, with its selecting properties, Enabled and
Optional alone: a remediation is for every device it is assigned to, so a
row's machine (MachineId, MachineName, PSComputerName) is left out. The same
baseline gives the same text. Saved rows that name one machine's adapters by
their GUIDs (such as those of Get-FerruleBinding) would be Missing on every
other device: a warning (Ferrule.RowsOfOneMachine) names them with the rules
that fit any device, by the adapter's connection name, such as
@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'Wi-Fi'; Enabled = $false }.
Optional is for rules alone: a saved row with Optional is refused
(Ferrule.RowOptionalSaved), and nothing is written. For Intune, a script of 200 KB or more (some
1,300 saved rows) is not written: rules, each of which names a path on
every adapter, make a baseline smaller than saved rows.

The files are ASCII alone, every other character of a value written as a
[char] code: that is UTF-8 without a byte order mark, which Intune takes
whether its "Enforce script signature check" is Yes or No, and which Windows
PowerShell 5.1 reads alike in any code page. With -Certificate both are
signed (Authenticode, SHA-256). In Intune: "Enforce script signature check"
Yes only for scripts signed by a certificate that the devices hold in
Trusted Publishers (they then run under the device's execution policy, and
the Ferrule module must be signed too), else No; "Run this script using the
logged-on credentials" No, since a change needs SYSTEM; "Run script in
64-bit PowerShell" Yes (the scripts run themselves again in the 64-bit
PowerShell where it is No).

.PARAMETER Baseline
Baseline rows, as Set-FerruleBinding and Compare-FerruleBinding take them.

.PARAMETER Path
The folder to write the two scripts in; made if it is not there.

.PARAMETER For
Intune or ConfigurationManager.

.PARAMETER Certificate
A code-signing certificate with its private key, such as one of
Get-ChildItem Cert:\CurrentUser\My -CodeSigningCert, to sign both scripts
with. A signature that does not verify on this machine writes nothing.

.EXAMPLE
PS C:\> $rule = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
New-FerruleRemediation -Baseline $rule -Path .\ipv6-off -For Intune -WhatIf

Shows the two Intune scripts that unbinding IPv6 from every adapter would be written to.
#>
function New-FerruleRemediation {
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType([System.IO.FileInfo])]
    param(
        [Parameter(Mandatory = $true)] [AllowEmptyCollection()] [AllowNull()] [psobject[]]$Baseline,
        [Parameter(Mandatory = $true)] [ValidateNotNullOrEmpty()] [string]$Path,
        [Parameter(Mandatory = $true)] [ValidateSet('Intune', 'ConfigurationManager')] [string]$For,
        [Security.Cryptography.X509Certificates.X509Certificate2]$Certificate
    )
    $given = @(foreach ($row in @($Baseline)) { if ($null -ne $row) { $row } })
    if ($given.Count -eq 0) {
        $PSCmdlet.ThrowTerminatingError((New-ErrorRecord -Id BaselineEmpty -Category InvalidArgument -Target $Baseline))
    }
    $read = ConvertTo-Wanted -Cmdlet $PSCmdlet -Items $given -State $null
    # A row that cannot be read is an error already: nothing is written.
    if ($read.Refused -gt 0) { return }
    if ($read.Rows.Count -eq 0) {
        $PSCmdlet.ThrowTerminatingError((New-ErrorRecord -Id BaselineEmpty -Category InvalidArgument -Target $Baseline))
    }
    if (-not (Test-RemediationRow -Cmdlet $PSCmdlet -Wanted $read.Rows)) { return }
    $rows = @(foreach ($one in $read.Rows) { ConvertTo-BaselineRow -Wanted $one })
    $detection = $(if ($For -eq 'Intune') { 'drift-detection.ps1' } else { 'drift-discovery.ps1' })
    $folder = $PSCmdlet.GetUnresolvedProviderPathFromPSPath($Path)
    # Both made, and signed, before either is written: a template that fails its check writes nothing, nor
    # does a signature that fails.
    $scripts = @(foreach ($one in @(@('Detection', $detection), @('Remediation', 'drift-remediation.ps1'))) {
            @{ File = Join-Path $folder $one[1]; Text = Format-Remediation -Template $one[0] -Rows $rows -For $For }
        })
    $chosen = @(foreach ($script in $scripts) {
            if ($PSCmdlet.ShouldProcess($script.File, (Get-Message -Id WriteRemediation -Values $For))) { $script }
        })
    try {
        foreach ($script in $chosen) { $script.Bytes = Get-ScriptBytes -Text $script.Text -Certificate $Certificate }
    } catch {
        $PSCmdlet.ThrowTerminatingError($_)
    }
    $sized = @{ Cmdlet = $PSCmdlet; Scripts = $chosen; Signed = $null -ne $Certificate }
    if ($For -eq 'Intune' -and -not (Test-ScriptSize @sized)) { return }
    foreach ($script in $chosen) {
        if (-not (Test-Path -LiteralPath $folder)) { [void][IO.Directory]::CreateDirectory($folder) }
        [IO.File]::WriteAllBytes($script.File, $script.Bytes)
        Get-Item -LiteralPath $script.File
    }
}
