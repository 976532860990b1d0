# The guard over remoting: a machine's session must not be cut by the change
# that it carries.

# The adapters that carry each machine's session, by computer name, asked of
# the machines whose items would disable IPv4 or IPv6 on an adapter; a
# machine whose adapter cannot be told is warned of. Empty without sessions.
function Get-ManagementAdapter {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Items)
    $found = @{}
    if (-not $Session) { return $found }
    $computers = @($Items | Where-Object {
            $_.Current.Class -eq 'Adapter' -and -not $_.Enabled -and $_.Current.Enabled -and
            $script:GuardedProtocols -contains ($_.Current.Path -split '->', 2)[0]
        } | ForEach-Object { Get-ComputerOf -Binding $_.Current } | Select-Object -Unique)
    if ($computers.Count -eq 0) { return $found }
    $sessions = @($Session | Where-Object { $computers -contains $_.ComputerName })
    $answers = Invoke-FanOut -Cmdlet $Cmdlet -Session $sessions -ThrottleLimit $ThrottleLimit -Step $script:ManagementStep `
        -ArgumentsFor { , @() }
    foreach ($computer in $computers) {
        $adapters = @()
        if ($answers.ContainsKey($computer)) { $adapters = @($answers[$computer] | Where-Object { $_ }) }
        $unknown = @($adapters | Where-Object { -not $_.Guid } | ForEach-Object Address)
        if ($adapters.Count -eq 0 -or $unknown.Count -gt 0) {
            $Cmdlet.WriteWarning("${computer}: which adapter carries this session cannot be told ($($unknown -join ', ')); " +
                'its IPv4 and IPv6 bindings are changed as asked.')
        }
        $found[$computer] = $adapters
    }
    $found
}

# Which of a machine's management adapters a path carries: the one whose GUID
# is the path's adapter and whose protocol is the path's first component.
function Find-Carrier {
    param([object[]]$Adapters, $Binding)
    $protocol = ($Binding.Path -split '->', 2)[0]
    foreach ($adapter in $Adapters) {
        if ($adapter -and $adapter.Guid -and $adapter.Guid.Trim('{}') -eq $Binding.ComponentID.Trim('{}') -and
            $adapter.Protocol -eq $protocol) { return $adapter }
    }
    $null
}
