<#
.SYNOPSIS
Compares machines' binding paths with a baseline, changing nothing.

.DESCRIPTION
Takes baseline rows, as Set-FerruleBinding takes them (from the pipeline or
-Baseline): objects saved from a machine, whose literal ComponentID and Path
name one path each, or rules (a wildcard, a Name, or no Path), which name
every path their selectors match on any machine, whatever its GUIDs. Where
rows name one path, the last one wins. Lists each class of the baseline once
on each machine, and gives one Ferrule.BindingDrift object for each path whose state
differs from its row (Drift Changed), for each literal row that names no path
there (Missing), and for each rule that names none (Unmatched; one with
Optional = $true only with -IncludeEqual). A baseline with no rows is an
error. A machine whose listing fails is an error for it, never an empty
answer.

.PARAMETER InputObject
Baseline rows from the pipeline, read as Set-FerruleBinding reads them.

.PARAMETER Baseline
Baseline rows, as from the pipeline.

.PARAMETER IncludeEqual
Also gives the paths in their wanted state (Drift Equal), and the optional
rules that name nothing.

.PARAMETER IncludeNew
Also gives every path of the baseline's classes that no row names (Drift New):
a new adapter, a new VPN client.

.PARAMETER Session
Compares the machines of these sessions, all at once.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> $baseline = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
PS C:\> Compare-FerruleBinding -Baseline $baseline

Which adapters have IPv6 bound, against a baseline of IPv6 off every adapter.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol | Export-Clixml protocols.xml
PS C:\> Import-Clixml protocols.xml | Compare-FerruleBinding -IncludeNew

What has changed in the protocols since they were saved, and what is new.
#>
function Compare-FerruleBinding {
    [CmdletBinding()]
    [OutputType('Ferrule.BindingDrift')]
    param(
        [Parameter(ValueFromPipeline = $true)] [psobject[]]$InputObject,
        [psobject[]]$Baseline,
        [switch]$IncludeEqual,
        [switch]$IncludeNew,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $rows = New-Object System.Collections.ArrayList }
    process { foreach ($row in $InputObject) { if ($null -ne $row) { [void]$rows.Add($row) } } }
    end {
        $given = @(foreach ($row in @($Baseline) + $rows.ToArray()) { if ($null -ne $row) { $row } })
        if ($given.Count -eq 0) {
            $PSCmdlet.WriteError((New-ErrorRecord -Id BaselineEmpty -Category InvalidArgument -Target $Baseline))
            return
        }
        $wanted = @((ConvertTo-Wanted -Cmdlet $PSCmdlet -Items $given -State $null).Rows)
        if ($wanted.Count -eq 0) { return }
        Compare-Baseline -Cmdlet $PSCmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Wanted $wanted `
            -IncludeEqual:$IncludeEqual -IncludeNew:$IncludeNew
    }
}
