<#
.SYNOPSIS
Disables binding paths.

.DESCRIPTION
Disables the binding paths that the selection parameters name, as
Get-FerruleBinding selects them, or the Ferrule.Binding objects that come from
the pipeline (fresh, from Import-Clixml, or from a remote session). A path is
one ferrule run: "class ... comp ... path ... disable". A path already
disabled is left as it is. -WhatIf lists every path that would change and
changes none. A change that needs a restart is a warning, and its -PassThru
object has RebootRequired set; any other failure is an error for that path.
A selection that names nothing is an error. In a session from another
machine (-Session, or this module inside Invoke-Command, SSH or RDP),
disabling the protocol that may carry the session is refused unless -Force
(Get-Help about_Ferrule: THE SESSION'S OWN ADAPTER). Where no one can answer
a confirmation, nothing is changed: give -Confirm:$false.

.PARAMETER ComponentID
Bind names of the components; on the Adapter class also a component bound to
adapters, such as ms_tcpip6. With no selector at all the command is refused:
-ComponentID * names every path of the class.

.PARAMETER Name
Connection names of adapters, where only * and ? are wildcards. The first
positional parameter, alias -InterfaceAlias.

.PARAMETER InputObject
Rows: Ferrule.Binding objects, hashtables or objects with Class and a
ComponentID or Path, or objects of Get-NetAdapterBinding.

.PARAMETER PassThru
Returns a Ferrule.Binding object for each path, with its state after the change.

.PARAMETER Force
Disables even what the guard refuses in a session from another machine: the
protocol that may carry the session, and the components that carry other
adapters.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Disable-FerruleBinding -Name 'Ethernet 2' -ComponentID ms_tcpip6 -WhatIf

Shows what unbinding IPv6 from the adapter "Ethernet 2" would change.

.EXAMPLE
PS C:\> Disable-FerruleBinding 'Wi-Fi' -DisplayName 'File and Printer Sharing for Microsoft Networks' -WhatIf

Shows what turning File and Printer Sharing off the adapter "Wi-Fi" would change.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 | Disable-FerruleBinding -PassThru

Disables every path above IPv6 and returns their new states.
#>
function Disable-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'High', DefaultParameterSetName = 'Selection')]
    [OutputType('Ferrule.Binding')]
    param(
        [Parameter(ParameterSetName = 'Selection')] [Parameter(ParameterSetName = 'InputObject')]
        [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string[]]$ComponentID,
        [Parameter(ParameterSetName = 'Selection')] [ValidateSet('Adapter', 'Client', 'Protocol', 'Service')]
        [string]$Class = 'Adapter',
        [Parameter(ParameterSetName = 'Selection')] [Parameter(ParameterSetName = 'InputObject')]
        [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string[]]$Path,
        [Parameter(ParameterSetName = 'Selection')] [Parameter(ParameterSetName = 'InputObject')]
        [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string[]]$DisplayName,
        [Parameter(ParameterSetName = 'Selection', Position = 0)] [Alias('InterfaceAlias')] [SupportsWildcards()]
        [ValidateNotNullOrEmpty()] [string[]]$Name,
        [Parameter(ParameterSetName = 'InputObject', Mandatory = $true, ValueFromPipeline = $true)]
        [psobject[]]$InputObject,
        [switch]$PassThru,
        [switch]$Force,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $rows = New-Object System.Collections.ArrayList }
    process { Step-Change -Cmdlet $PSCmdlet -Bound $PSBoundParameters -Enable:$false -Rows $rows }
    end { Complete-Change -Cmdlet $PSCmdlet -Bound $PSBoundParameters -Rows $rows -State $false -Adapters }
}
