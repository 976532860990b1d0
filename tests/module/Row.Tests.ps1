# The Ferrule module's rows (Private/Row.ps1), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

Describe 'Rows' {
    It 'puts saved states back from <Format>' -ForEach @(
        @{ Format = 'Export-Csv'; Save = { param($f) $input | Export-Csv -NoTypeInformation -Path $f }; Load = { param($f) Import-Csv $f } }
        @{ Format = 'Export-Clixml'; Save = { param($f) $input | Export-Clixml -Path $f }; Load = { param($f) Import-Clixml $f } }
    ) {
        $file = Use-Machine
        $saved = Join-Path $TestDrive "saved-$Format"
        $before = Get-State $file
        Get-FerruleBinding -Class Protocol | & $Save $saved
        Get-FerruleBinding | & $Save "$saved-adapters"
        Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Confirm:$false
        Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Confirm:$false
        Enable-FerruleBinding -Path 'ms_implat->*' -Confirm:$false
        Get-State $file | Should -Not -Be $before
        $applied = @(Get-Calls $file 'INetCfg\.Apply').Count
        $restored = @(@(& $Load $saved; & $Load "$saved-adapters") | Set-FerruleBinding -PassThru -Confirm:$false -ErrorAction Stop)
        Get-State $file | Should -Be $before
        $restored.Count | Should -Be @(Read-Machine $file | Where-Object Class -In 'Protocol', 'Adapter').Count
        # Only the seven paths changed since are changed back.
        @(Get-Calls $file 'INetCfg\.Apply').Count - $applied | Should -Be 7
    }

    # A row is refused, alone, when it cannot be read, names no path, or is of
    # another machine: nothing is changed for it. A Whole row stands as given.
    It 'refuses a row <Case>' -ForEach @(
        @{ Case = 'whose Enabled is yes'; Row = @{ Enabled = 'yes' }; Category = 'InvalidArgument' }
        @{ Case = 'whose Enabled is empty'; Row = @{ Enabled = '' }; Category = 'InvalidArgument' }
        @{ Case = 'that names no path (empty cells)'; Row = @{ ComponentID = ''; Path = ''; Name = '' }; Category = 'InvalidArgument' }
        @{ Case = 'of another machine, without a session'; Row = @{ PSComputerName = 'pc01' }; Category = 'InvalidArgument'
            Message = 'pc01: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of another machine by its identity, under a loopback name'; Category = 'InvalidArgument'
            Row = @{ PSComputerName = '127.0.0.1'; MachineId = 'another-machine'; MachineName = 'PC-OTHER' }
            Message = 'ms_tcpip: ms_server->ms_tcpip is a row of another machine, PC-OTHER (MachineId another-machine)*' }
        @{ Case = 'that names adapters on another class'; Row = @{ ComponentID = ''; Path = ''; Name = 'Wi-Fi' }; Category = 'InvalidArgument' }
        @{ Case = 'whose $null component leaves a name alone'; Category = 'InvalidArgument'; Message = "A row names no ComponentID or Path*"
            Whole = @{ Class = 'Adapter'; ComponentID = $null; Name = 'Ethernet 2'; Enabled = $false } }
        @{ Case = 'without Class, of no cmdlet''s shape'; Category = 'InvalidArgument'; Message = 'A row has no Class*'
            Whole = [pscustomobject]@{ ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = $false } }
        @{ Case = 'without Class or Enabled, of no cmdlet''s shape'; Category = 'InvalidArgument'; Message = 'A row has no Class*'
            Whole = [pscustomobject]@{ ComponentID = 'ms_tcpip6'; Name = 'Ethernet' } }
        @{ Case = 'for the first of its faults'; Row = @{ Class = 'Bogus'; Enabled = 'yes' }; Category = 'InvalidArgument'
            Message = "*'Bogus'*" }
        @{ Case = 'of another machine, each of two'; Row = @{ PSComputerName = 'pc01' }; Category = 'InvalidArgument'; Twice = $true
            Message = 'pc01: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of another machine, after a row of every machine'; Row = @{ PSComputerName = 'pc01' }; Category = 'InvalidArgument'
            After = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = 'True' }
            Message = 'pc01: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of another machine by its identity alone, after a row of every machine'; Row = @{ MachineId = 'another-machine' }
            After = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = 'True' }
            Category = 'InvalidArgument'; Message = '*is a row of another machine, * (MachineId another-machine)*' }
        @{ Case = 'of a clone under another name, after a row of this machine'; Row = @{ MachineId = '<this>'; MachineName = 'PC-CLONE' }
            After = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = 'True'; MachineId = '<this>' }
            Category = 'InvalidArgument'; Message = '*is a row of another machine, PC-CLONE (MachineId *' }
    ) {
        $file = Use-Machine
        $given = $Whole
        if ($null -eq $given) {
            $fields = [ordered]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = 'False' }
            foreach ($key in $Row.Keys) { $fields[$key] = $Row[$key] }
            $given = [pscustomobject]$fields
        }
        $rows = , $given
        if ($Twice) { $rows = @($given, $given.PSObject.Copy()) }
        if ($After) { $rows = @([pscustomobject]$After, $given) }
        $own = $(if ($Row -and $Row['MachineId'] -eq '<this>') { @(Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip)[0].MachineId })
        foreach ($one in $rows) { if ($one.PSObject.Properties['MachineId'] -and $one.MachineId -eq '<this>') { $one.MachineId = $own } }
        $rows | Set-FerruleBinding -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures -WarningAction SilentlyContinue
        $failures.Count | Should -Be $(if ($Twice) { 2 } else { 1 })
        $failures[0].CategoryInfo.Category | Should -Be $Category
        $failures[0].TargetObject | Should -Be $given
        if ($Message) { $failures[0].Exception.Message | Should -BeLike $Message }
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
    }

    It 'follows a row <Case>' -ForEach @(
        @{ Case = 'of this machine, and keeps its name'; Row = @{ PSComputerName = 'localhost' }; Computer = 'localhost'
            Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'that names a component alone (a rule)'; Row = @{ ComponentID = 'ms_tcpip6'; Path = '' }; Computer = $null
            Changed = @('ms_tcpip6 ms_server->ms_tcpip6 False') }
        @{ Case = 'that names adapters by a pattern'; Row = @{ Class = 'Adapter'; ComponentID = 'ms_lltdio'; Path = ''; Name = '*' }
            Computer = $null; Changed = @("$Ethernet ms_lltdio->$Ethernet False", "$WiFi ms_lltdio->$WiFi False") }
        @{ Case = 'with a literal component and a path pattern (a rule)'; Row = @{ Path = 'ms_server->*' }; Computer = $null
            Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'of this machine''s identity'; Row = @{ MachineId = '<this>' }; Computer = $null
            Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'that is a hashtable'; Whole = @{ Class = 'Protocol'; ComponentID = 'ms_netbt'; Path = 'ms_server->ms_netbt'; Enabled = $false }
            Computer = $null; Changed = @('ms_netbt ms_server->ms_netbt False') }
        @{ Case = 'whose Optional cell is empty'; Row = @{ Optional = '' }; Computer = $null; Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'of Get-NetAdapterBinding''s shape, as a hashtable'; Computer = $null; Changed = @("$Ethernet ms_tcpip6->$Ethernet False")
            Whole = @{ Name = 'Ethernet 2'; ComponentID = 'ms_tcpip6'; Enabled = $false } }
        @{ Case = 'of Get-NetAdapterBinding''s shape'; Computer = $null; Changed = @("$Ethernet ms_tcpip6->$Ethernet False")
            Whole = [pscustomobject]@{ Name = 'Ethernet 2'; InterfaceAlias = 'Ethernet 2'; DisplayName = 'Internet Protocol Version 6 (TCP/IPv6)'
                ComponentID = 'ms_tcpip6'; Enabled = $false } }
        @{ Case = 'of Get-NetAdapterBinding''s shape, through CSV'; Computer = $null; Changed = @("$WiFi ms_lltdio->$WiFi False")
            Whole = @([pscustomobject]@{ InterfaceAlias = 'Wi-Fi'; ComponentID = 'ms_lltdio'; Enabled = $false } |
                    ConvertTo-Csv -NoTypeInformation | ConvertFrom-Csv)[0] }
        @{ Case = 'of Get-NetAdapterBinding''s shape, piped to Disable'; Computer = $null; Through = 'Disable'
            Changed = @("$WiFi ms_tcpip->$WiFi False")
            Whole = [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceAlias = 'Wi-Fi'; ComponentID = 'ms_tcpip'; Enabled = $true } }
    ) {
        $file = Use-Machine
        Set-AdapterStub
        $before = Get-State $file
        $given = $Whole
        if ($null -eq $given) {
            $fields = [ordered]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = 'False' }
            foreach ($key in $Row.Keys) { $fields[$key] = $Row[$key] }
            if ($fields['MachineId'] -eq '<this>') {
                $fields['MachineId'] = @(Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip)[0].MachineId
                $fields['MachineId'] | Should -Not -BeNullOrEmpty
            }
            $given = [pscustomobject]$fields
        }
        $command = "$(if ($Through) { $Through } else { 'Set' })-FerruleBinding"
        $passed = @(, $given | & $command -PassThru -Confirm:$false -ErrorAction Stop)
        @(Compare-Object $before (Get-State $file) -PassThru | Where-Object SideIndicator -EQ '=>') | Should -Be $Changed
        $passed.Count | Should -BeGreaterOrEqual $Changed.Count
        foreach ($one in $passed) {
            $property = $one.PSObject.Properties['PSComputerName']
            $(if ($property) { $property.Value }) | Should -Be $Computer
        }
    }
}
