<#
.SYNOPSIS
Gets the binding paths of the machine's network components, with their states.

.DESCRIPTION
Runs one ferrule listing of a class of components (adapters by default) and
returns each binding path as a Ferrule.Binding object: Class, ComponentID (the
component's bind name), DisplayName, Path (the path token) and Enabled. On
adapters, as Get-NetAdapterBinding gives them, ComponentID is the component
bound to the adapter (the path's first element), DisplayName is null, and the
adapter is Name (the connection name, such as "Ethernet 2"),
InterfaceDescription and InterfaceGuid (its bind name). -ComponentID, -Path, -DisplayName and -Name take the
wildcards * and ? alone: [ and ] are themselves, since names hold them. A
value without wildcards that matches nothing is an
error naming it; a wildcard that matches nothing gives nothing, as
Get-ChildItem does. A listing that could not be made (the write lock held,
access denied) is an error, never an empty answer. Get-Help about_Ferrule
gives the rules in full.

.PARAMETER ComponentID
Bind names of the components, such as ms_tcpip. On the Adapter class, the
component bound to the adapter: -Name 'Wi-Fi' -ComponentID ms_tcpip6 is IPv6 on
Wi-Fi (a value that matches an adapter's bind name names that adapter's paths).

.PARAMETER Class
Adapter (the default), Client, Protocol or Service.

.PARAMETER Path
Path tokens, such as ms_tcpip6->{GUID}.

.PARAMETER DisplayName
Display names of the components. On the Adapter class, an adapter's
description; a value that matches none names the paths whose bound component
has that display name, as Get-NetAdapterBinding's -DisplayName does.

.PARAMETER Name
Connection names of adapters, such as "Ethernet 2", where only * and ? are
wildcards (brackets are themselves); only with the Adapter class. The first
positional parameter, alias -InterfaceAlias, as on the NetAdapterBinding
cmdlets.

.PARAMETER InputObject
Adapters of Get-NetAdapter, from the pipeline, as Get-NetAdapterBinding
takes them: the bindings of those adapters (known by their InterfaceGuid),
chosen among further by the other selectors. Anything else is an error, and
nothing is listed.

.PARAMETER Session
Runs ferrule on the machines of these sessions, all at once: the package's
ferrule for each machine's architecture is copied there once (into a folder
of the module's own), and checked by its SHA-256 before every run. Every
object carries PSComputerName; a machine that fails is an error for it alone.

.PARAMETER ThrottleLimit
How many machines at once, 32 by default.

.EXAMPLE
PS C:\> Get-NetAdapter -Name 'Wi-Fi' | Get-FerruleBinding -ComponentID ms_tcpip6

Whether IPv6 is bound to the Wi-Fi adapter, as Get-NetAdapterBinding gives it.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol

Lists every binding path of the protocols.

.EXAMPLE
PS C:\> Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 | Where-Object Enabled

The enabled paths above IPv6.

.EXAMPLE
PS C:\> Get-FerruleBinding -Name 'Ethernet*' -ComponentID ms_tcpip6

Whether IPv6 is bound to each adapter whose connection name starts with Ethernet.
#>
function Get-FerruleBinding {
    [CmdletBinding()]
    [OutputType('Ferrule.Binding')]
    param(
        [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string[]]$ComponentID,
        [ValidateSet('Adapter', 'Client', 'Protocol', 'Service')] [string]$Class = 'Adapter',
        [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string[]]$Path,
        [SupportsWildcards()] [ValidateNotNullOrEmpty()] [string[]]$DisplayName,
        [Parameter(Position = 0)] [Alias('InterfaceAlias')] [SupportsWildcards()] [ValidateNotNullOrEmpty()]
        [string[]]$Name,
        [Parameter(ValueFromPipeline = $true)] [psobject[]]$InputObject,
        [ValidateNotNullOrEmpty()] [System.Management.Automation.Runspaces.PSSession[]]$Session,
        [ValidateRange(1, 1000)] [int]$ThrottleLimit = 32
    )
    begin { $piped = New-Object System.Collections.ArrayList }
    process { foreach ($item in $InputObject) { [void]$piped.Add($item) } }
    end {
        $Class = Get-SelectionClass -Cmdlet $PSCmdlet -Bound $PSBoundParameters
        $adapters = @()
        # Input expected and none given (Get-NetAdapter found no adapter) names no adapter, not every one.
        if ($MyInvocation.ExpectingInput -or $PSBoundParameters.ContainsKey('InputObject')) {
            $adapters = @(Read-PipedAdapter -Cmdlet $PSCmdlet -Items $piped.ToArray())
            if ($adapters.Count -eq 0) { return }
            if ($Class -ne 'Adapter') {
                $PSCmdlet.ThrowTerminatingError((New-ErrorRecord -Id InputNeedsAdapter -Values $Class `
                            -Category InvalidArgument -Target $Class))
            }
        }
        $selection = New-Selection -Class $Class -Bound $PSBoundParameters -Adapters $adapters
        Get-Selected -Cmdlet $PSCmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Selection $selection
    }
}
