# The names that the suite's tables use when Pester discovers them, and its
# tests when they run: the commands that select, and the sample's adapters.
$script:Commands = @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding', 'Set-FerruleBinding')
$script:Ethernet = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
$script:WiFi = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'
# The event records of a command's changes, each "ID Outcome Command
# ComponentID Path Before Wanted", and for 1002 "... Before After beside
# Beside": a row runs its command with the splatted Session (none here).
function Format-EventRecord($Record) {
    $end = $(if ($Record.EventId -eq 1002) { "$($Record.After) beside $($Record.Beside)" } else { "$($Record.Wanted)" })
    "$($Record.EventId) $($Record.Outcome) $($Record.Command) $($Record.ComponentID) $($Record.Path) $($Record.Before) $end"
}
$script:EventCases = @(
    @{ Case = 'a disable'; Extra = @(); Expected = @('1000 Made Disable-FerruleBinding ms_tcpip6 ms_server->ms_tcpip6 True False')
        Run = { param($s) Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->*' -Confirm:$false @s } }
    @{ Case = 'an enable with a side effect'
        Extra = @('class service', 'component ms_e "E"', 'path "ms_e->a" disabled', 'path "ms_e->b" disabled',
            'link "ms_e->a" enabled "ms_e->b" enabled')
        Expected = @('1000 Made Enable-FerruleBinding ms_e ms_e->a False True', '1002 Made Enable-FerruleBinding ms_e ms_e->b False True beside ms_e->a')
        Run = { param($s) Enable-FerruleBinding -Class Service -ComponentID ms_e -Path 'ms_e->a' -Confirm:$false @s } }
    @{ Case = 'a failed apply'; Extra = @('fail INetCfg.Apply * 80004005')
        Expected = @('1001 Failed Disable-FerruleBinding ms_tcpip6 ms_server->ms_tcpip6 True False')
        Run = { param($s) Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->*' -Confirm:$false @s } }
    # Every run's first state read fails: the listing's is another path, the change's its own.
    @{ Case = 'a change from a state that could not be read'; Extra = @('fail INetCfgBindingPath.IsEnabled 1 80004005')
        Expected = @('1000 Made Disable-FerruleBinding ms_tcpip6 ms_server->ms_tcpip6  False')
        Run = { param($s) Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->*' -Confirm:$false @s } }
    # An adapter's record names the component bound to it, as its objects do.
    @{ Case = 'a disable on an adapter'; Extra = @(); Expected = @("1000 Made Disable-FerruleBinding ms_lltdio ms_lltdio->$script:WiFi True False")
        Run = { param($s) Disable-FerruleBinding -Path 'ms_lltdio->{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}' -Confirm:$false @s } }
    # The first write fails, as one can just after the source is registered: the record is written again.
    @{ Case = 'a disable whose first write fails'; Extra = @(); Refuse = $true
        Expected = @('1000 Made Disable-FerruleBinding ms_tcpip6 ms_server->ms_tcpip6 True False')
        Run = { param($s) Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->*' -Confirm:$false @s } }
    # A connection name that holds a line break and a field of its own adds no field.
    @{ Case = 'a disable on an adapter whose name holds a line break'; Extra = @(); Adapters = "Ethernet 2", "Wi-Fi`r`nUser: SYSTEM"
        Expected = @("1000 Made Disable-FerruleBinding ms_lltdio ms_lltdio->$script:WiFi True False")
        Run = { param($s) Disable-FerruleBinding -Path 'ms_lltdio->{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}' -Confirm:$false @s } }
    @{ Case = 'Get'; Extra = @(); Expected = @(); Run = { param($s) Get-FerruleBinding -Class Protocol @s } }
    @{ Case = 'Compare'; Extra = @(); Expected = @()
        Run = { param($s) @{ Class = 'Protocol'; ComponentID = 'ms_tcpip6'; Enabled = $false } | Compare-FerruleBinding @s } }
)
# Get-NetAdapterBinding's object as a row, with every property of a real one
# (NetAdapterBinding.properties, which the Windows workflow saves from one):
# IPv4's Link-Layer Topology Discovery binding to Wi-Fi, disabled.
$script:NetAdapterBindingRow = & {
    $values = [ordered]@{ PSTypeName = 'Microsoft.Management.Infrastructure.CimInstance#ROOT/StandardCimv2/MSFT_NetAdapterBindingSettingData' }
    foreach ($name in [IO.File]::ReadAllLines((Join-Path $PSScriptRoot 'NetAdapterBinding.properties'))) { $values[$name] = $null }
    foreach ($name in 'Name', 'InterfaceAlias', 'ifAlias') { $values[$name] = 'Wi-Fi' }
    foreach ($name in 'InterfaceDescription', 'ifDesc') { $values[$name] = 'Intel(R) Wi-Fi 6 AX201 160MHz' }
    $values['ComponentID'] = 'ms_lltdio'
    $values['DisplayName'] = 'Link-Layer Topology Discovery Mapper I/O Driver'
    $values['InstanceID'] = "$($script:WiFi)::ms_lltdio"
    $values['Enabled'] = $false
    $values['SystemName'] = [Environment]::MachineName
    $values['CimClass'] = 'ROOT/StandardCimv2:MSFT_NetAdapterBindingSettingData'
    [pscustomobject]$values
}
# A service with a path whose name holds a real ?, beside one that the ? as a wildcard would match.
$script:Lookalike = @('class service', 'component ms_q "Q"', 'path "ms_a?->x" enabled', 'path "ms_ab->x" enabled')
