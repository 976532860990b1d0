# The Ferrule module's guard (Private/Guard.ps1), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

Describe 'The guard' {
    # This machine as Windows would describe it: Ethernet 2 (index 3) holds
    # 10.0.0.5 and fe80::5, Wi-Fi (index 4) 10.1.0.7 and the default route of
    # IPv4; Connections, the established connections by local port. The
    # process's session comes from SSH_CONNECTION and SESSIONNAME.
    BeforeAll {
        function Set-NetStub([hashtable]$Connections = @{}) {
            $global:StubConnections = $Connections
            function global:Get-NetTCPConnection($State, [int[]]$LocalPort) {
                foreach ($port in $LocalPort) {
                    if (-not $global:StubConnections) { continue }
                    foreach ($address in @($global:StubConnections[$port])) {
                        if ($address) { [pscustomobject]@{ LocalAddress = $address; LocalPort = $port } }
                    }
                }
            }
            function global:Get-NetIPAddress($IPAddress) {
                $index = @{ '10.0.0.5' = 3; 'fe80::5' = 3; '10.1.0.7' = 4 }[$IPAddress]
                if ($index) { [pscustomobject]@{ IPAddress = $IPAddress; InterfaceIndex = $index } }
            }
            function global:Get-NetAdapter([switch]$IncludeHidden) {
                [pscustomobject]@{ Name = 'Ethernet 2'; InterfaceGuid = $script:Ethernet; InterfaceIndex = 3 }
                [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceGuid = $script:WiFi; InterfaceIndex = 4 }
            }
            function global:Get-NetRoute([string[]]$DestinationPrefix) {
                [pscustomobject]@{ DestinationPrefix = '0.0.0.0/0'; InterfaceIndex = 4 }
            }
        }
    }

    AfterEach {
        $env:SSH_CONNECTION = $null
        $env:SESSIONNAME = $null
        Remove-Item Function:\Get-NetTCPConnection, Function:\Get-NetIPAddress, Function:\Get-NetAdapter, Function:\Get-NetRoute, `
            Function:\Get-CimInstance -ErrorAction SilentlyContinue
    }

    It 'finds the sessions'' adapters and the default routes: <Case>' -ForEach @(
        @{ Case = 'WinRM'; Connections = @{ 5985 = '10.0.0.5', 'fe80::5', '10.9.9.9'; 5986 = '::ffff:10.0.0.5' }
            Sessions = @("10.0.0.5 ms_tcpip $Ethernet", "fe80::5 ms_tcpip6 $Ethernet", '10.9.9.9 ms_tcpip ') }
        @{ Case = 'an RDP session of this process'; SessionName = 'RDP-Tcp#4'; Connections = @{ 3389 = '10.1.0.7' }
            Sessions = @("10.1.0.7 ms_tcpip $WiFi") }
        @{ Case = 'SSH, not an RDP connection of another session'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Connections = @{ 3389 = '10.1.0.7' }
            Sessions = @("10.0.0.5 ms_tcpip $Ethernet") }
        @{ Case = 'nothing found'; Connections = @{}; Sessions = @('  ') }
        @{ Case = 'SSH on Windows 7, from Win32_NetworkAdapterConfiguration'; Ssh = '10.0.0.9 50000 10.1.0.7 22'; Cim = $true
            Sessions = @("10.1.0.7 ms_tcpip $WiFi") }
    ) {
        Set-NetStub -Connections $Connections
        if ($Cim) {
            Remove-Item Function:\Get-NetTCPConnection, Function:\Get-NetIPAddress, Function:\Get-NetAdapter, Function:\Get-NetRoute
            function global:Get-CimInstance([string]$ClassName) {
                if ($ClassName -ne 'Win32_NetworkAdapterConfiguration') { return }
                [pscustomobject]@{ SettingID = $script:Ethernet; IPAddress = @('10.0.0.5', 'fe80::5'); DefaultIPGateway = $null }
                [pscustomobject]@{ SettingID = $script:WiFi; IPAddress = @('10.1.0.7'); DefaultIPGateway = @('10.1.0.1') }
            }
        }
        $env:SSH_CONNECTION = $Ssh
        $env:SESSIONNAME = $SessionName
        $found = & (Get-Module Ferrule) { & $script:ManagementStep }
        @($found.Sessions | ForEach-Object { "$($_.Address) $($_.Protocol) $($_.Guid)" }) | Should -Be $Sessions
        @($found.Routes | ForEach-Object { "$($_.Protocol) $($_.Guid)" }) | Should -Be @("ms_tcpip $WiFi")
    }

    # The module itself in a session: each row's change, refused (an error
    # that names the machine, the adapter and the session's address) or made.
    It '<Case>' -ForEach @(
        @{ Case = 'refuses IPv4 off the adapter of an SSH session'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "ms_tcpip->$Ethernet"
            Refusal = "*Ethernet 2 ($Ethernet): ms_tcpip->*: not disabled: ms_tcpip on this adapter carries the session to * (10.0.0.5)*" }
        # A row saved before names the adapter as ComponentID, and the guard reads it as the module's own objects.
        @{ Case = 'refuses IPv4 off it by a row saved before'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "ms_tcpip->$Ethernet"; Saved = $true
            Refusal = "*Ethernet 2 ($Ethernet): ms_tcpip->*: not disabled: ms_tcpip on this adapter carries the session to * (10.0.0.5)*" }
        @{ Case = 'takes IPv4 off it with -Force'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "ms_tcpip->$Ethernet"; Force = $true }
        @{ Case = 'takes IPv6 off it under an IPv4 session'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "ms_tcpip6->$Ethernet" }
        @{ Case = 'refuses IPv4 off an adapter with a default route'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "ms_tcpip->$WiFi"
            Refusal = '*not disabled: this adapter has a default route of ms_tcpip*' }
        @{ Case = 'refuses the Hyper-V switch onto the session''s adapter'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "vms_pp->$Ethernet"
            Enable = $true; Refusal = '*not enabled: this adapter carries the session to * (10.0.0.5), and vms_pp would unbind TCP/IP*' }
        @{ Case = 'refuses IPv4 off any adapter where the session''s address is on none'; Ssh = '10.0.0.9 50000 10.0.0.77 22'
            Path = "ms_tcpip->$Ethernet"; Refusal = '*which adapter carries the session to * (10.0.0.77) cannot be told*' }
        @{ Case = 'takes IPv4 off with -Force where the session''s address is on none'; Ssh = '10.0.0.9 50000 10.0.0.77 22'
            Path = "ms_tcpip->$Ethernet"; Force = $true }
        @{ Case = 'refuses IPv4 off the adapter of this process''s RDP session'; SessionName = 'RDP-Tcp#2'
            Connections = @{ 3389 = '10.0.0.5' }; Path = "ms_tcpip->$Ethernet"; Refusal = '*carries the session to * (10.0.0.5)*' }
        @{ Case = 'guards nothing for SYSTEM while another session is on RDP'; Connections = @{ 3389 = '10.0.0.5' }
            Path = "ms_tcpip->$Ethernet" }
        @{ Case = 'shows its refusal under -WhatIf'; Ssh = '10.0.0.9 50000 10.0.0.5 22'; Path = "ms_tcpip->$Ethernet"; WhatIf = $true
            Refusal = '*not disabled: ms_tcpip on this adapter carries the session*' }
    ) {
        $file = Use-Machine
        $lldp = "    path `"ms_lldp->$Ethernet`" enabled"
        [IO.File]::WriteAllText($file, [IO.File]::ReadAllText($file).Replace($lldp, "$lldp`n    path `"vms_pp->$Ethernet`" disabled"))
        Set-NetStub -Connections $Connections
        $env:SSH_CONNECTION = $Ssh
        $env:SESSIONNAME = $SessionName
        $before = Get-State $file
        $command = $(if ($Enable) { 'Enable-FerruleBinding' } else { 'Disable-FerruleBinding' })
        $switches = @{ Force = [bool]$Force; WhatIf = [bool]$WhatIf; Confirm = $false; ErrorAction = 'SilentlyContinue'
            ErrorVariable = 'failures'; Verbose = $true }
        if ($Saved) {
            $row = [pscustomobject]@{ Class = 'Adapter'; ComponentID = ($Path -split '->')[-1]; Path = $Path; Enabled = [bool]$Enable }
            $trail = @($row | Set-FerruleBinding @switches 4>&1 | ForEach-Object { "$_" })
        } else {
            $trail = @(& $command -Path $Path @switches 4>&1 | ForEach-Object { "$_" })
        }
        # The trail says what the guard looked at, and which listings a change makes for what Windows changes beside.
        @($trail | Where-Object { $_ -like '*: the guard looked at the session addresses *' }).Count | Should -Be ([int][bool]$Refusal)
        # Three classes before (the selection's own is listed already), and after them those that had a path: adapters
        # and protocols (clients and services have none here).
        if (-not $Refusal -and -not $WhatIf) { @($trail | Where-Object { $_ -like '*: listing class * beside the changes' }).Count | Should -Be 5 }
        $changed = @(Compare-Object $before (Get-State $file) -PassThru | Where-Object SideIndicator -EQ '=>')
        if ($Refusal) {
            @($failures | ForEach-Object { "$($_.CategoryInfo.Category) $($_.Exception.Message)" }) | Should -BeLike "InvalidOperation $Refusal"
            $changed | Should -BeNullOrEmpty
        } else {
            $failures | Should -BeNullOrEmpty
            @($changed).Count | Should -Be 1
        }
    }
}
