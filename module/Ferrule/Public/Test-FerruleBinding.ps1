<#
.SYNOPSIS
Tests whether this machine's binding paths, or every machine's of -Session, are as a baseline wants them.

.DESCRIPTION
Takes the baseline rows that Compare-FerruleBinding takes, and returns $true
when no path of this machine drifts from them (nothing Changed, Missing or
Unmatched), else $false; $false too, with an error, when the baseline has no
rows, the listings could not be made or a row cannot be read.

.PARAMETER InputObject
Baseline rows from the pipeline.

.PARAMETER Baseline
Baseline rows.

.PARAMETER Session
Tests the machines of these sessions, all at once: $true only when every one
of them is on the baseline, and each could be asked.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> $rule = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
$rule | Test-FerruleBinding

Whether IPv6 is unbound from every adapter.
#>
function Test-FerruleBinding {
    [CmdletBinding()]
    [OutputType([bool])]
    param(
        [Parameter(ValueFromPipeline = $true)] [psobject[]]$InputObject,
        [psobject[]]$Baseline,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $rows = New-Object System.Collections.ArrayList }
    process { foreach ($row in $InputObject) { if ($null -ne $row) { [void]$rows.Add($row) } } }
    end {
        $problems = @()
        $remote = @{}
        if ($Session) { $remote = @{ Session = $Session; ThrottleLimit = $ThrottleLimit } }
        $drift = @(Compare-FerruleBinding -Baseline (@($Baseline | Where-Object { $null -ne $_ }) + $rows.ToArray()) `
                -ErrorVariable problems @remote)
        $problems.Count -eq 0 -and $drift.Count -eq 0
    }
}
