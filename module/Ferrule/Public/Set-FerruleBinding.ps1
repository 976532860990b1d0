<#
.SYNOPSIS
Puts binding paths into the states given, for example saved ones.

.DESCRIPTION
Takes Class, ComponentID, Path, Name, Enabled and PSComputerName by property
name from the pipeline, so that the rows of Export-Csv or Export-Clixml put
saved states back. Enabled may be a [bool] or the text True or False that
Import-Csv gives; an empty cell is a selector not given. A row whose
ComponentID and Path are both literal names that path alone, and is an error
where there is none; any other row is a rule that names every path all its
selectors match (on adapters, -ComponentID ms_tcpip6 with Name * is IPv6 on
every adapter), and may name none. Where rows name one path, the last wins.
Only paths whose state differs are changed, one ferrule run each. A row of
another machine needs a -Session that reaches it.

.PARAMETER Class
Adapter, Client, Protocol or Service.

.PARAMETER ComponentID
The component's bind name.

.PARAMETER Path
The path token.

.PARAMETER Name
An adapter's connection name (only * and ? are wildcards); in a saved row,
with a literal ComponentID and Path, it only describes the path.

.PARAMETER PSComputerName
The machine the row is of.

.PARAMETER Force
Disables, over -Session, even the protocol that carries the session on its
own adapter.

.PARAMETER Enabled
The state wanted: $true, $false, or the text True or False.

.PARAMETER PassThru
Returns a Ferrule.Binding object for each path, with its state after the change.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol | Export-Csv -NoTypeInformation -Path protocols.csv
Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6
Import-Csv protocols.csv | Set-FerruleBinding

Saves the protocols' states, changes them, and puts them back.

.EXAMPLE
PS C:\> Set-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Enabled $false -WhatIf

Shows whether disabling one path would change anything.
#>
function Set-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'High')]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [string]$Class,
        [Parameter(ValueFromPipelineByPropertyName = $true)] [SupportsWildcards()] [AllowEmptyString()] [AllowNull()] [string]$ComponentID,
        [Parameter(ValueFromPipelineByPropertyName = $true)] [SupportsWildcards()] [AllowEmptyString()] [AllowNull()] [string]$Path,
        [Parameter(ValueFromPipelineByPropertyName = $true)] [SupportsWildcards()] [AllowEmptyString()] [AllowNull()] [string]$Name,
        [Parameter(Mandatory = $true, ValueFromPipelineByPropertyName = $true)] [object]$Enabled,
        [Parameter(ValueFromPipelineByPropertyName = $true)] [AllowEmptyString()] [AllowNull()] [string]$PSComputerName,
        [switch]$PassThru,
        [switch]$Force,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $wanted = New-Object System.Collections.ArrayList }
    process {
        $item = [pscustomobject]@{ Class = $Class; ComponentID = $ComponentID; Path = $Path; Name = $Name; PSComputerName = $PSComputerName }
        $one = ConvertTo-Wanted -Cmdlet $PSCmdlet -Item $item -Enabled $Enabled
        if ($one) { [void]$wanted.Add($one) }
    }
    end { Complete-Change -Cmdlet $PSCmdlet -Bound $PSBoundParameters -Wanted $wanted }
}
