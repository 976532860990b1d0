<#
.SYNOPSIS
Enables binding paths.

.DESCRIPTION
Enables the binding paths that the selection parameters name, or the
Ferrule.Binding objects that come from the pipeline, one ferrule run a path.
A path already enabled is left as it is. -WhatIf lists every path that would
change and changes none.

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
Enables even what the guard refuses in a session from another machine: the
components that carry other adapters (the Hyper-V switch, the NIC team
multiplexor, the bridge) on an adapter that may carry the session.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_msclient->ms_tcpip6' -PassThru

Binds IPv6 to the Client for Microsoft Networks again.
#>
function Enable-FerruleBinding {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'Medium', DefaultParameterSetName = 'Selection')]
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
    process { Step-Change -Cmdlet $PSCmdlet -Bound $PSBoundParameters -Enable -Rows $rows }
    end { Complete-Change -Cmdlet $PSCmdlet -Bound $PSBoundParameters -Rows $rows -State $true -Adapters }
}
