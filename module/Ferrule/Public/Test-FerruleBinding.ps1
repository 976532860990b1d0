<#
.SYNOPSIS
Tests whether this machine's binding paths, or every machine's of -Session, are as a baseline wants them.

.DESCRIPTION
Takes the baseline rows that Compare-FerruleBinding takes, and returns $true
when no path of this machine drifts from them (nothing Changed or Missing,
and no rule Unmatched unless it is Optional: an optional rule that names
nothing here is no drift, so a baseline of such rules alone is on the
baseline), else $false; $false too, with an error, when the baseline has no
rows, the listings could not be made or a row cannot be read. This is the
verdict of the scripts of New-FerruleRemediation too: they read it with
-Detailed.

.PARAMETER InputObject
Baseline rows from the pipeline.

.PARAMETER Baseline
Baseline rows.

.PARAMETER Session
Tests the machines of these sessions, all at once: $true only when every one
of them is on the baseline, and each could be asked.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.PARAMETER Detailed
Gives the verdict as an object rather than $true or $false: OnBaseline (the
answer), Off (the drift that makes it $false), Equal (how many paths are in
their wanted state), Unused (the optional rules that name nothing here, as
Compare-FerruleBinding -IncludeEqual gives them) and Rows.

.EXAMPLE
PS C:\> $rule = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
$rule | Test-FerruleBinding

Whether IPv6 is unbound from every adapter.

.EXAMPLE
PS C:\> $vpn = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'VPN*'; Enabled = $false
    Optional = $true }
(Test-FerruleBinding -Baseline $vpn -Detailed).Unused

On a machine without a VPN adapter, the optional rule that names nothing: the machine is on the baseline all the same.
#>
function Test-FerruleBinding {
    [CmdletBinding()]
    [OutputType([bool], [psobject])]
    param(
        [Parameter(ValueFromPipeline = $true)] [psobject[]]$InputObject,
        [psobject[]]$Baseline,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32,
        [switch]$Detailed
    )
    begin { $rows = New-Object System.Collections.ArrayList }
    process { foreach ($row in $InputObject) { if ($null -ne $row) { [void]$rows.Add($row) } } }
    end {
        $problems = @()
        $remote = @{}
        if ($Session) { $remote = @{ Session = $Session; ThrottleLimit = $ThrottleLimit } }
        $given = @(@($Baseline | Where-Object { $null -ne $_ }) + $rows.ToArray())
        # With the equal paths and the optional rules that name nothing, which the verdict counts.
        $drift = @(Compare-FerruleBinding -Baseline $given -IncludeEqual -ErrorVariable problems @remote)
        $verdict = Get-BaselineVerdict -Drift $drift -Failed ($problems.Count -gt 0) -Rows $given.Count
        if ($Detailed) { return $verdict }
        $verdict.OnBaseline
    }
}
