<#
.SYNOPSIS
Puts binding paths into the states given, for example saved ones.

.DESCRIPTION
Takes rows from the pipeline (InputObject), so that the rows of Export-Csv or
Export-Clixml put saved states back, or one row from the command line
(-Class, Adapter by default, -ComponentID, -Path, -Name and -Enabled, none of
them $null or empty). A row is an object or any dictionary with Class,
ComponentID, Path, Name (or InterfaceAlias), Enabled, and optionally Optional
and its machine's names (MachineId, MachineName, PSComputerName), read case
aside; a property that rows do not have is an error (Get-Help about_Ferrule:
PROPERTIES OF ROWS). An object of Get-NetAdapterBinding (Name or
InterfaceAlias, ComponentID, Enabled) is an Adapter row of the component bound
to that connection; a Changed row of Compare-FerruleBinding is its path, with
Wanted as its state. Enabled may be a [bool] or the text True or False that
Import-Csv gives; an empty cell is a selector not given. A row must give a
ComponentID or a Path (ComponentID * for every path) and, unless it has the
cmdlets' shape, a Class. A row whose ComponentID and Path are both literal
names that path alone, and is an error where there is none; any other row is
a rule that names every path all its selectors match (on adapters,
ComponentID ms_tcpip6 with Name * is IPv6 on every adapter), and one that
names none is a warning. Where rows name one path, the last wins. Only paths
whose state differs are changed, one ferrule run each. A row that names its
machine goes to that machine alone; a row of another machine needs a -Session
that reaches it.

.PARAMETER InputObject
Rows, from the pipeline.

.PARAMETER Class
Adapter (the default), Client, Protocol or Service.

.PARAMETER ComponentID
The component's bind name; on the Adapter class also a component bound to
adapters, such as ms_tcpip6.

.PARAMETER Path
The path token.

.PARAMETER Name
An adapter's connection name (only * and ? are wildcards).

.PARAMETER Force
Changes even what the guard refuses over a session: the protocol that
carries the session, and the components that carry other adapters.

.PARAMETER Enabled
The state wanted: $true, $false, or the text True or False. With rows from
the pipeline, every path they name is put in this state, as
Set-NetAdapterBinding does, and the rows' own Enabled is not read.

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
PS C:\> Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 | Set-FerruleBinding -Enabled $false -WhatIf

Shows what putting every IPv6 path of the protocols in one state would change.

.EXAMPLE
PS C:\> Set-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Enabled $false -WhatIf

Shows whether disabling one path would change anything.
#>
function Set-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'High', DefaultParameterSetName = 'InputObject')]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(ParameterSetName = 'Selection')] [ValidateSet('Adapter', 'Client', 'Protocol', 'Service')]
        [string]$Class = 'Adapter',
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [ValidateNotNullOrEmpty()]
        [string]$ComponentID,
        [Parameter(ParameterSetName = 'Selection')] [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string]$Path,
        [Parameter(ParameterSetName = 'Selection')] [Alias('InterfaceAlias')] [SupportsWildcards()]
        [ValidateNotNullOrEmpty()] [string]$Name,
        [Parameter(ParameterSetName = 'Selection', Mandatory = $true)] [Parameter(ParameterSetName = 'InputObject')]
        [ValidateNotNull()] [object]$Enabled,
        [Parameter(ParameterSetName = 'InputObject', Mandatory = $true, ValueFromPipeline = $true)]
        [psobject[]]$InputObject,
        [switch]$PassThru,
        [switch]$Force,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin {
        $gathered = New-Object System.Collections.ArrayList
        $received = $false
    }
    process {
        $rows = $InputObject
        if ($PSCmdlet.ParameterSetName -eq 'Selection') {
            $rows = @(@{ Class = $Class; ComponentID = $ComponentID; Path = $Path; Name = $Name; Enabled = $Enabled })
        }
        foreach ($row in $rows) { [void]$gathered.Add($row) }
        $received = $true
    }
    end {
        if ($PSCmdlet.ParameterSetName -eq 'InputObject' -and -not $received) {
            $PSCmdlet.WriteWarning((Get-Message -Id NoRow))
        }
        # One state for every piped row, where it is given.
        $state = $null
        if ($PSCmdlet.ParameterSetName -eq 'InputObject' -and $PSBoundParameters.ContainsKey('Enabled')) {
            $state = $Enabled
        }
        Complete-Change -Cmdlet $PSCmdlet -Bound $PSBoundParameters -Rows $gathered -State $state
    }
}
