# The Ferrule module against a ferrule of FERRULE_EXE: the stand-in build, or
# ferrule.exe under Wine through wine_ferrule.sh. Each test has a machine
# description of its own, which ferrule reads and Apply writes back, and a
# journal of every platform call.
BeforeDiscovery {
    $script:Commands = @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding', 'Set-FerruleBinding')
    $script:Ethernet = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
    $script:WiFi = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'
}

BeforeAll {
    $tests = Split-Path $PSScriptRoot
    $root = Split-Path $tests
    Import-Module (Join-Path $root 'module/Ferrule/Ferrule.psd1') -Force
    . (Join-Path $PSScriptRoot 'Windows51.ps1')
    . (Join-Path $PSScriptRoot 'Machines.ps1')
    $script:Machines = @{
        sample = Join-Path $root 'standin/sample.machine'
        localized = Join-Path $tests 'machines/localized.machine'
        control = Join-Path $tests 'machines/control.machine'
    }
    # This process is in no session of another machine's, so nothing here is
    # guarded unless a row says so.
    $env:SSH_CONNECTION = $null
    $env:SESSIONNAME = $null
    # Under Wine, names come through the OEM code page of the run's locale.
    $script:CodePage = $env:FERRULE_TEST_CODE_PAGE
    $script:Ethernet = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
    $script:WiFi = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'

    # A fresh copy of a machine, with lines of its own, for ferrule to use.
    function Use-Machine([string]$Name = 'sample', [string[]]$Extra = @()) {
        $file = Join-Path $TestDrive "$Name-$([guid]::NewGuid()).machine"
        $text = [IO.File]::ReadAllText($script:Machines[$Name]) + (($Extra | ForEach-Object { "$_`n" }) -join '')
        [IO.File]::WriteAllText($file, $text)
        $env:STANDIN_MACHINE = $file
        $env:STANDIN_JOURNAL = "$file.journal"
        $file
    }

    function Get-State([string]$File) {
        @(Read-Machine $File | ForEach-Object { "$($_.ComponentID) $($_.Path) $($_.Enabled)" })
    }

    # The text that a name becomes on its way through the code page.
    function Get-Shown([string]$Text) {
        if (-not $script:CodePage) { return $Text }
        $encoding = [Text.Encoding]::GetEncoding([int]$script:CodePage)
        $encoding.GetString($encoding.GetBytes($Text))
    }

    function Get-Calls([string]$File, [string]$Pattern) {
        if (-not (Test-Path "$File.journal")) { return @() }
        @(Get-Content "$File.journal" | Where-Object { $_ -match $Pattern })
    }

    function Set-AdapterStub([switch]$Cim, [string[]]$Names) {
        if (-not $Names) { $Names = 'Ethernet 2', 'Wi-Fi' }
        $adapters = @(
            [pscustomobject]@{ Name = $Names[0]; InterfaceGuid = $script:Ethernet; NetConnectionID = $Names[0]; GUID = $script:Ethernet }
            [pscustomobject]@{ Name = $Names[1]; InterfaceGuid = $script:WiFi; NetConnectionID = $Names[1]; GUID = $script:WiFi }
        )
        Remove-Item Function:\Get-NetAdapter, Function:\Get-CimInstance -ErrorAction SilentlyContinue
        if ($Cim) {
            $global:StubCimAdapters = $adapters
            function global:Get-CimInstance([string]$ClassName) {
                if ($ClassName -eq 'Win32_NetworkAdapter') { $global:StubCimAdapters }
            }
        } else {
            $global:StubNetAdapters = $adapters
            function global:Get-NetAdapter([switch]$IncludeHidden) {
                if ($IncludeHidden) { $global:StubNetAdapters }
            }
        }
    }
}

AfterAll {
    Remove-Item Function:\Get-NetAdapter, Function:\Get-CimInstance -ErrorAction SilentlyContinue
    Remove-Module Ferrule -ErrorAction SilentlyContinue
}

Describe 'Get-FerruleBinding' {
    It 'gives the <Class> paths of <Machine> as objects' -ForEach @(
        @{ Machine = 'sample'; Class = 'Adapter'; Extra = @() }
        @{ Machine = 'sample'; Class = 'Protocol'; Extra = @() }
        @{ Machine = 'sample'; Class = 'Service'; Extra = 'component ms_x "X Service"', 'path "ms_x->ms_tcpip" enabled' }
        @{ Machine = 'localized'; Class = 'Client'; Extra = @() }
    ) {
        $file = Use-Machine $Machine $Extra
        $got = @(Get-FerruleBinding -Class $Class -ErrorAction Stop)
        $expected = @(Read-Machine $file | Where-Object Class -EQ $Class)
        $got.Count | Should -Be $expected.Count
        $got.Count | Should -BeGreaterThan 0
        for ($i = 0; $i -lt $got.Count; $i++) {
            $got[$i].PSObject.TypeNames[0] | Should -Be 'Ferrule.Binding'
            $got[$i].Class | Should -Be $Class
            $got[$i].ComponentID | Should -Be $expected[$i].ComponentID
            $got[$i].DisplayName | Should -Be (Get-Shown $expected[$i].DisplayName)
            $got[$i].Path | Should -Be $expected[$i].Path
            $got[$i].Enabled | Should -BeOfType [bool]
            $got[$i].Enabled | Should -Be $expected[$i].Enabled
        }
    }

    It 'selects <Selection>' -ForEach @(
        @{ Cim = $false; Extra = @(); Selection = 'a literal component'; Parameters = @{ Class = 'Protocol'; ComponentID = 'MS_TCPIP6' }
            Expected = @('ms_server->ms_tcpip6', 'ms_msclient->ms_tcpip6') }
        @{ Cim = $false; Extra = @(); Selection = 'a component wildcard'; Parameters = @{ Class = 'Protocol'; ComponentID = 'ms_tcp*' }
            Expected = @('ms_netbt->ms_tcpip', 'ms_netbt_smb->ms_tcpip', 'ms_server->ms_tcpip', 'ms_msclient->ms_tcpip',
                'ms_server->ms_tcpip6', 'ms_msclient->ms_tcpip6') }
        @{ Cim = $false; Extra = @(); Selection = 'two components'; Parameters = @{ Class = 'Protocol'; ComponentID = 'ms_netbt', 'ms_tcpip6' }
            Expected = @('ms_server->ms_tcpip6', 'ms_msclient->ms_tcpip6', 'ms_server->ms_netbt', 'ms_msclient->ms_netbt') }
        @{ Cim = $false; Extra = @(); Selection = 'a path wildcard'; Parameters = @{ Path = 'ms_tcpip6->*' }
            Expected = @("ms_tcpip6->$Ethernet", "ms_tcpip6->$WiFi") }
        @{ Cim = $false; Extra = @(); Selection = 'a literal path'; Parameters = @{ Class = 'Protocol'; Path = 'ms_server->ms_netbt' }
            Expected = @('ms_server->ms_netbt') }
        @{ Cim = $false; Extra = @(); Selection = 'a display name wildcard'; Parameters = @{ DisplayName = '*Wi-Fi*'; Path = 'ms_lldp*' }
            Expected = @("ms_lldp->$WiFi") }
        @{ Cim = $false; Extra = @(); Selection = 'an adapter by name (Get-NetAdapter)'; Parameters = @{ Name = 'Ethernet 2'; Path = 'ms_tcpip6->*' }
            Expected = @("ms_tcpip6->$Ethernet") }
        @{ Cim = $true; Extra = @(); Selection = 'adapters by a name wildcard (Win32_NetworkAdapter)'
            Parameters = @{ Name = 'W*' }
            Expected = @("ms_tcpip->$WiFi", "ms_tcpip6->$WiFi", "ms_pacer->$WiFi", "ms_lltdio->$WiFi", "ms_rspndr->$WiFi",
                "ms_implat->$WiFi", "ms_lldp->$WiFi") }
        @{ Cim = $false; Selection = 'a name with a space, quoted for ferrule'; Parameters = @{ Class = 'Service'; ComponentID = 'my service' }
            Extra = 'component "my service" "Mine"', 'path "ms_tcpip->my service" enabled', 'component my "Other"', 'path "x->my" enabled'
            Expected = @('ms_tcpip->my service') }
        @{ Cim = $false; Selection = 'a component pattern beside a path named comp'; Parameters = @{ Class = 'Service'; ComponentID = 'ms_alpha*'; Path = 'comp' }
            Extra = 'component ms_alpha "Alpha"', 'path comp enabled', 'component ms_beta "Beta"', 'path comp enabled'
            Expected = @('comp'); Components = @('ms_alpha') }
        @{ Cim = $false; Selection = 'a path pattern beside a component named path'; Parameters = @{ Class = 'Service'; ComponentID = 'path'; Path = 'ms_s*' }
            Extra = 'component path "Path"', 'path ms_server->path enabled', 'path ms_tcpip->path enabled'
            Expected = @('ms_server->path'); Components = @('path') }
    ) {
        Use-Machine sample $Extra | Out-Null
        Set-AdapterStub -Cim:$Cim
        $got = @(Get-FerruleBinding @Parameters -ErrorAction Stop)
        @($got | ForEach-Object Path) | Should -Be $Expected
        if ($Components) { @($got | ForEach-Object ComponentID) | Should -Be $Components }
        if ($Parameters.ContainsKey('Name')) {
            $got | ForEach-Object { $_.Name | Should -BeLike $Parameters.Name }
        }
    }

    # Each literal value that names nothing is an error naming it; a wildcard
    # that names nothing lists nothing, as Get-ChildItem; a change that names
    # nothing at all is an error.
    It '<Command> <Case>' -ForEach @(
        @{ Command = 'Get'; Case = 'says so when a component matches nothing'; Parameters = @{ ComponentID = 'ms_nothing' }
            Paths = @(); Errors = @("*-ComponentID 'ms_nothing'.*bound to adapters*") }
        @{ Command = 'Get'; Case = 'lists nothing for a wildcard that matches nothing'; Parameters = @{ Class = 'Protocol'; Path = 'nothing*' }
            Paths = @(); Errors = @() }
        @{ Command = 'Disable'; Case = 'says so when a wildcard matches nothing'; Parameters = @{ Class = 'Protocol'; Path = 'nothing*' }
            Paths = @(); Errors = @('No binding path matches -Class Protocol -Path nothing`*.') }
        @{ Command = 'Get'; Case = 'says so when an adapter name matches nothing'; Parameters = @{ Name = 'Ethernet 9' }
            Paths = @(); Errors = @("*'Ethernet 9'*") }
        @{ Command = 'Get'; Case = 'names the typo in a list'; Parameters = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip6', 'ms_tcpipv4' }
            Paths = @('ms_server->ms_tcpip6', 'ms_msclient->ms_tcpip6'); Errors = @("*-ComponentID 'ms_tcpipv4'*") }
        @{ Command = 'Get'; Case = 'selects no more than a pattern says'; Parameters = @{ Class = 'Protocol'; ComponentID = '*tcpip' }
            Paths = @('ms_netbt->ms_tcpip', 'ms_netbt_smb->ms_tcpip', 'ms_server->ms_tcpip', 'ms_msclient->ms_tcpip'); Errors = @() }
        @{ Command = 'Get'; Case = 'takes brackets in a name as themselves'; Names = 'Ethernet [Prod]', 'Ethernet P'
            Parameters = @{ Name = 'Ethernet [Prod]'; Path = 'ms_tcpip6->*' }; Paths = @("ms_tcpip6->$Ethernet"); Errors = @() }
        @{ Command = 'Get'; Case = 'names a typo in a name with brackets'; Names = 'Ethernet [Prod]', 'Ethernet P'
            Parameters = @{ Name = 'Ethernet [Prod'; Path = 'ms_tcpip6->*' }; Paths = @(); Errors = @("*'Ethernet ``[Prod'*") }
        @{ Command = 'Enable'; Case = 'takes the NetAdapterBinding cmdlets'' words'; Parameters = @{ Name = 'Wi-Fi'; ComponentID = 'ms_tcpip6' }
            Paths = @("ms_tcpip6->$WiFi"); Errors = @() }
        @{ Command = 'Get'; Case = 'finds a bound component on adapters by a pattern'; Parameters = @{ ComponentID = 'ms_tcpip?' }
            Paths = @("ms_tcpip6->$Ethernet", "ms_tcpip6->$WiFi"); Errors = @() }
    ) {
        $file = Use-Machine
        Set-AdapterStub -Names $Names
        $before = Get-State $file
        $extra = @{}
        if ($Command -ne 'Get') { $extra = @{ Confirm = $false; PassThru = $true } }
        $got = @(& "$Command-FerruleBinding" @Parameters @extra -ErrorAction SilentlyContinue -ErrorVariable failures)
        @($got | ForEach-Object Path) | Should -Be $Paths
        @($failures | ForEach-Object { [string]$_.CategoryInfo.Category } | Select-Object -Unique) | Should -Be @($Errors | ForEach-Object { 'ObjectNotFound' } | Select-Object -Unique)
        for ($i = 0; $i -lt $Errors.Count; $i++) { $failures[$i].Exception.Message | Should -BeLike $Errors[$i] }
        $failures.Count | Should -Be $Errors.Count
        $changed = @(Compare-Object $before (Get-State $file) -PassThru | Where-Object SideIndicator -EQ '=>')
        if ($Command -eq 'Get') { $changed | Should -BeNullOrEmpty } else { $changed.Count | Should -Be $Paths.Count }
    }

    # Refused before anything runs: no platform call is made.
    It '<Command> refuses <Case>' -ForEach @(
        @{ Command = 'Get'; Case = 'a $null component'; Parameters = @{ ComponentID = $null }; Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Disable'; Case = 'a $null component'; Parameters = @{ ComponentID = $null; Path = 'ms_tcpip6->*' }; Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Enable'; Case = 'a $null name'; Parameters = @{ Name = $null }; Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Disable'; Case = 'an empty list of paths'; Parameters = @{ Path = @() }; Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Get'; Case = 'an empty display name in a list'; Parameters = @{ DisplayName = 'a', '' }; Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Disable'; Case = 'no selector at all'; Parameters = @{}; Id = 'Ferrule.NoSelector,*'; Message = '*-ComponentID `**' }
        @{ Command = 'Get'; Case = 'a name with another class'; Parameters = @{ Name = 'Wi-Fi'; Class = 'Protocol' }; Id = 'Ferrule.NameNeedsAdapter,*' }
        @{ Command = 'Set'; Case = 'a $null name'; Parameters = @{ ComponentID = 'ms_tcpip'; Name = $null; Enabled = $false }
            Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Set'; Case = 'a $null component'; Parameters = @{ ComponentID = $null; Name = 'Ethernet 2'; Enabled = $false }
            Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Set'; Case = 'an empty path'; Parameters = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = ''; Enabled = $false }
            Id = 'ParameterArgumentValidationError*' }
        @{ Command = 'Set'; Case = 'a name alone'; Parameters = @{ Name = 'Ethernet 2'; Enabled = $false }; Id = 'Ferrule.RowNamesNoPath,*'
            Message = "*ComponentID = '``*'*" }
    ) {
        $file = Use-Machine
        Set-AdapterStub
        $thrown = $null
        $extra = @{}
        if ($Command -ne 'Get') { $extra = @{ Confirm = $false } }
        try { & "$Command-FerruleBinding" @Parameters @extra -ErrorAction Stop } catch { $thrown = $_ }
        $thrown | Should -Not -BeNullOrEmpty
        $thrown.FullyQualifiedErrorId | Should -BeLike $Id
        if ($Message) { $thrown.Exception.Message | Should -BeLike $Message }
        Test-Path "$file.journal" | Should -BeFalse
    }

    It '<Case>' -ForEach @(
        @{ Case = 'Disable changes nothing and says nothing for an empty pipeline'; Run = { @() | Disable-FerruleBinding -Confirm:$false }
            Warnings = @(); Listed = $false }
        @{ Case = 'Set warns that it received no row'; Run = { @() | Set-FerruleBinding -Confirm:$false }
            Warnings = @('Set-FerruleBinding received no row, and changed nothing.'); Listed = $false }
        @{ Case = 'Set warns of a rule that names nothing, and changes nothing'; Listed = $true
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpipv4'; Enabled = $false } | Set-FerruleBinding -Confirm:$false }
            Warnings = @("A rule names no binding path of class Protocol here: ComponentID 'ms_tcpipv4'; nothing is changed for it.") }
    ) {
        $file = Use-Machine
        $all = @(& $Run 3>&1 2>&1)
        @($all | Where-Object { $_ -is [Management.Automation.ErrorRecord] }) | Should -BeNullOrEmpty
        @($all | Where-Object { $_ -is [Management.Automation.WarningRecord] } | ForEach-Object { "$_" }) | Should -Be $Warnings
        Test-Path "$file.journal" | Should -Be $Listed
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
    }
}

Describe 'Changing bindings' {
    It '-WhatIf on <Command> changes nothing' -ForEach @(
        @{ Command = 'Disable'; Run = { Disable-FerruleBinding -Class Protocol -ComponentID 'ms_tcp*' -WhatIf } }
        @{ Command = 'Enable'; Run = { Enable-FerruleBinding -Class Protocol -ComponentID * -WhatIf } }
        @{ Command = 'Set'; Run = { Get-FerruleBinding -Class Protocol | Set-FerruleBinding -Enabled $false -WhatIf } }
        @{ Command = 'Disable by name'; Run = { Disable-FerruleBinding -Name 'Ethernet 2' -Path 'ms_tcpip6->*' -WhatIf } }
    ) {
        $file = Use-Machine
        Set-AdapterStub
        $before = [IO.File]::ReadAllBytes($file)
        & $Run
        [IO.File]::ReadAllBytes($file) | Should -Be $before
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
        Get-Calls $file 'INetCfg\.Initialize' | Should -Not -BeNullOrEmpty
    }

    It 'disables exactly the paths selected through the pipeline' {
        $file = Use-Machine
        $before = Get-State $file
        $passed = @(Get-FerruleBinding -Class Protocol -Path 'ms_server->*' |
                Where-Object ComponentID -NE 'ms_netbt' | Disable-FerruleBinding -PassThru -Confirm:$false -ErrorAction Stop)
        $after = Get-State $file
        $changed = @(Compare-Object $before $after -PassThru | Where-Object SideIndicator -EQ '=>')
        $changed | Should -Be @('ms_tcpip ms_server->ms_tcpip False', 'ms_tcpip6 ms_server->ms_tcpip6 False')
        @($passed | ForEach-Object { "$($_.Path) $($_.Enabled)" }) |
            Should -Be @('ms_server->ms_tcpip False', 'ms_server->ms_tcpip6 False')
    }

    It 'enables paths by selection and leaves enabled ones alone' {
        $file = Use-Machine
        Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Confirm:$false -ErrorAction Stop
        @(Get-State $file | Select-String 'ms_tcpip6 ') | ForEach-Object { $_.Line | Should -Match 'True$' }
        @(Get-Calls $file '\.Enable\(1\)').Count | Should -Be 1
    }

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
    ) {
        $file = Use-Machine
        $given = $Whole
        if ($null -eq $given) {
            $fields = [ordered]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = 'False' }
            foreach ($key in $Row.Keys) { $fields[$key] = $Row[$key] }
            $given = [pscustomobject]$fields
        }
        , $given | Set-FerruleBinding -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures -WarningAction SilentlyContinue
        $failures.Count | Should -Be 1
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
        @{ Case = 'of Get-NetAdapterBinding''s shape'; Computer = $null; Changed = @("$Ethernet ms_tcpip6->$Ethernet False")
            Whole = [pscustomobject]@{ Name = 'Ethernet 2'; InterfaceAlias = 'Ethernet 2'; DisplayName = 'Internet Protocol Version 6 (TCP/IPv6)'
                ComponentID = 'ms_tcpip6'; Enabled = $false } }
        @{ Case = 'of Get-NetAdapterBinding''s shape, through CSV'; Computer = $null; Changed = @("$WiFi ms_lltdio->$WiFi False")
            Whole = @([pscustomobject]@{ InterfaceAlias = 'Wi-Fi'; ComponentID = 'ms_lltdio'; Enabled = $false } |
                    ConvertTo-Csv -NoTypeInformation | ConvertFrom-Csv)[0] }
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
        $passed = @(, $given | Set-FerruleBinding -PassThru -Confirm:$false -ErrorAction Stop)
        @(Compare-Object $before (Get-State $file) -PassThru | Where-Object SideIndicator -EQ '=>') | Should -Be $Changed
        $passed.Count | Should -BeGreaterOrEqual $Changed.Count
        foreach ($one in $passed) {
            $property = $one.PSObject.Properties['PSComputerName']
            $(if ($property) { $property.Value }) | Should -Be $Computer
        }
    }
}

Describe 'Drift' {
    # Each row: what happens to the machine after its baseline is taken (or
    # a rule), and exactly the drift that Compare-FerruleBinding must give.
    It 'compares: <Case>' -ForEach @(
        @{ Case = 'a saved machine, after a change both ways, gives exactly the changed paths'; Class = 'Protocol'
            Change = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Confirm:$false
                Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_msclient->ms_tcpip6' -Confirm:$false }
            Expected = @('Changed ms_server->ms_tcpip True False', 'Changed ms_msclient->ms_tcpip6 False True') }
        @{ Case = 'a rule for every adapter''s IPv6'; Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false })
            Expected = @("Changed ms_tcpip6->$Ethernet False True") }
        @{ Case = 'a rule with its exception after it, and every equal path'; Switches = @{ IncludeEqual = $true }
            Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
                @{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'Ethernet 2'; Enabled = $true })
            Expected = @("Equal ms_tcpip6->$Ethernet True True", "Equal ms_tcpip6->$WiFi False False") }
        @{ Case = 'a literal row that names nothing is Missing, a rule Unmatched, an optional rule nothing'
            Rules = @(@{ Class = 'Protocol'; ComponentID = 'ms_gone'; Path = 'ms_server->ms_gone'; Enabled = $true }
                @{ Class = 'Protocol'; ComponentID = 'ms_gone*'; Enabled = $true }
                @{ Class = 'Protocol'; ComponentID = 'ms_vpn*'; Enabled = $true; Optional = $true })
            Expected = @('Missing ms_server->ms_gone True ', 'Unmatched ms_gone* True ') }
        @{ Case = 'an optional rule that names nothing, with every equal path'; Switches = @{ IncludeEqual = $true }
            Rules = @(@{ Class = 'Service'; ComponentID = 'ms_vpn*'; Enabled = $true; Optional = 'True' })
            Expected = @('Unmatched ms_vpn* True  optional') }
        @{ Case = 'a typo in a rule''s component'; Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpipv6'; Name = '*'; Enabled = $false })
            Expected = @('Unmatched ms_tcpipv6 False ') }
        @{ Case = 'a typo in a rule''s connection name'; Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'Etherent*'; Enabled = $false })
            Expected = @('Unmatched ms_tcpip6 False '); Shown = '*Unmatched ms_tcpip6 Etherent`**False*' }
        @{ Case = 'an adapter added since is New'; Class = 'Adapter'; Switches = @{ IncludeNew = $true }
            Added = 'class dev', '  component "{00000000-0000-0000-0000-0000000000AA}" "VPN Adapter"',
            '    path "ms_tcpip->{00000000-0000-0000-0000-0000000000AA}" enabled'
            Expected = @('New ms_tcpip->{00000000-0000-0000-0000-0000000000AA}  True') }
    ) {
        $file = Use-Machine
        Set-AdapterStub
        $baseline = @(foreach ($rule in $Rules) { [pscustomobject]$rule })
        if ($Class) { $baseline = @(Get-FerruleBinding -Class $Class | ConvertTo-Csv -NoTypeInformation | ConvertFrom-Csv) }
        if ($Change) { & $Change }
        if ($Added) { [IO.File]::AppendAllText($file, (($Added | ForEach-Object { "$_`n" }) -join '')) }
        Remove-Item "$file.journal" -ErrorAction SilentlyContinue
        if (-not $Switches) { $Switches = @{} }
        $drift = @($baseline | Compare-FerruleBinding @Switches -ErrorAction Stop)
        @($drift | ForEach-Object {
                $named = $(if ($_.Path) { $_.Path } else { $_.ComponentID })
                ("$($_.Drift) $named $($_.Wanted) $($_.Found)" + $(if ($_.Optional) { ' optional' }))
            }) | Should -Be $Expected
        @($drift | ForEach-Object { $_.PSObject.TypeNames[0] } | Select-Object -Unique) | Should -Be @($Expected | ForEach-Object { 'Ferrule.BindingDrift' } | Select-Object -Unique)
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
        Get-Calls $file 'INetCfg\.Initialize' | Should -Not -BeNullOrEmpty
        if ($Shown) { $drift | Format-Table | Out-String -Width 120 | Should -BeLike $Shown }
        $off = @($Expected | Where-Object { $_ -match '^(Changed|Missing|Unmatched)' -and $_ -notmatch 'optional$' })
        [bool](Test-FerruleBinding -Baseline $baseline) | Should -Be ($off.Count -eq 0)
    }

    It 'refuses a baseline of <Case>, with nothing to compare' -ForEach @(
        @{ Case = 'no rows'; Baseline = @() }
        @{ Case = '$null'; Baseline = $null }
        @{ Case = 'only $null'; Baseline = @($null) }
    ) {
        $file = Use-Machine
        $drift = @(Compare-FerruleBinding -Baseline $Baseline -ErrorAction SilentlyContinue -ErrorVariable failures)
        $drift.Count | Should -Be 0
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'InvalidArgument'
        Test-FerruleBinding -Baseline $Baseline -ErrorAction SilentlyContinue | Should -BeFalse
        @($Baseline) | Test-FerruleBinding -ErrorAction SilentlyContinue | Should -BeFalse
        Test-Path "$file.journal" | Should -BeFalse
    }

    It 'gives no empty answer for a machine whose listing fails' {
        Use-Machine -Extra 'fail INetCfgLock.AcquireWriteLock * 1' | Out-Null
        $rule = [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Enabled = $true }
        $drift = @($rule | Compare-FerruleBinding -ErrorAction SilentlyContinue -ErrorVariable failures)
        $drift.Count | Should -Be 0
        $failures.Count | Should -Be 1
        $failures[0].Exception.Message | Should -BeLike '*lock->AcquireWriteLock() returned 1*'
        $rule | Test-FerruleBinding -ErrorAction SilentlyContinue | Should -BeFalse
    }

    # Windows changes some bindings beside another (a link of the description).
    It 'reports what Windows changed beside a change: <Case>' -ForEach @(
        @{ Case = 'the linked path'; Linked = $true; Expected = @('ms_msclient->ms_tcpip') }
        @{ Case = 'nothing, unlinked'; Linked = $false; Expected = @() }
    ) {
        $link = @()
        if ($Linked) { $link = @('link "ms_server->ms_tcpip" disabled "ms_msclient->ms_tcpip" disabled') }
        $file = Use-Machine -Extra $link
        $passed = @(Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -PassThru -Confirm:$false `
                -ErrorAction Stop -WarningAction SilentlyContinue -WarningVariable warnings)
        @($passed | Where-Object SideEffect | ForEach-Object { "$($_.Path) $($_.Enabled)" }) | Should -Be @($Expected | ForEach-Object { "$_ False" })
        @($passed | Where-Object { -not $_.SideEffect } | ForEach-Object Path) | Should -Be @('ms_server->ms_tcpip')
        @($warnings | ForEach-Object { "$_" }) | Should -Be @($Expected | ForEach-Object { "ms_tcpip: ${_}: disabled by Windows beside the change, which did not ask for it." })
        # Two listings of each class at most: the selection's (one before for the others), the change, one after.
        @(Get-Calls $file '^INetCfg\.QueryNetCfgClass\(').Count | Should -Be (1 + 3 + 1 + 4)
    }

    # The listing of clients fails the Fail-th time (the first is before the
    # change, the second after it): the change stands, and a warning says so.
    It 'says that what Windows changed beside could not be checked when the listing <When> fails' -ForEach @(
        @{ When = 'before'; Fail = 1 }
        @{ When = 'after'; Fail = 2 }
    ) {
        $file = Use-Machine
        $exe = $env:FERRULE_EXE
        $fake = Join-Path $TestDrive "failing-ferrule-$When"
        [IO.File]::WriteAllText($fake, "#!/bin/sh`nif [ `"`$*`" = 'class client' ]; then`n  echo x >> '$fake.count'`n" +
            "  if [ `$(wc -l < '$fake.count') -eq $Fail ]; then echo 'lock->AcquireWriteLock() returned 1'; exit 0; fi`nfi`n" +
            "exec '$exe' `"`$@`"`n")
        chmod 755 $fake
        $env:FERRULE_EXE = $fake
        try {
            Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Confirm:$false -ErrorAction Stop `
                -WarningAction SilentlyContinue -WarningVariable warnings
        } finally {
            $env:FERRULE_EXE = $exe
        }
        @($warnings | ForEach-Object { "$_" }) |
            Should -BeLike 'this machine: what Windows changed beside the changes could not be checked (class Client: *'
        Get-State $file | Should -Contain 'ms_tcpip ms_server->ms_tcpip False'
    }
}

Describe 'Paths that ferrule cannot tell apart' {
    # Names that print alike or compare alike (ferrule compares as
    # StrCmpLogicalW: case aside, digits by value) are two paths to the module
    # and one to ferrule: neither is changed, and no object claims a change.
    It 'changes neither of <Case>' -ForEach @(
        @{ Case = 'a control character beside a real ?'; Pick = 1
            Extra = 'class service', 'component ms_look "Look"', 'path "ms_a?->x" enabled', 'path "ms_a\x01->x" enabled' }
        @{ Case = 'ms_a beside ms_A, p1 beside p01'; Pick = 0
            Extra = 'class service', 'component ms_a "A"', 'path "p1" enabled', 'component ms_A "Other A"', 'path "p01" enabled' }
        @{ Case = 'a bind name that holds " ("'; Pick = 0
            Extra = 'class service', 'component "ms_b (x" "Y"', 'path "q" enabled', 'component ms_b "x (Y"', 'path "q" enabled' }
    ) {
        $file = Use-Machine -Extra $Extra
        $before = Get-State $file
        $two = @(Get-FerruleBinding -Class Service -ComponentID 'ms_[abl]*' -ErrorAction Stop)
        $two.Count | Should -Be 2
        $passed = @($two[$Pick] | Disable-FerruleBinding -PassThru -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures)
        $passed | Should -BeNullOrEmpty
        @($failures | ForEach-Object { [string]$_.CategoryInfo.Category }) | Should -Be @('InvalidResult')
        Get-State $file | Should -Be $before
        Get-Calls $file '\.Enable\(' | Should -BeNullOrEmpty
    }

    It 'changes both paths of a link, and warns that the second was already set' {
        $file = Use-Machine -Extra 'link "ms_server->ms_tcpip" disabled "ms_msclient->ms_tcpip" disabled'
        $passed = @(Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip', 'ms_msclient->ms_tcpip' `
                -PassThru -Confirm:$false -ErrorAction Stop -WarningAction SilentlyContinue -WarningVariable warnings)
        @($passed | ForEach-Object { "$($_.Path) $($_.Enabled) $($_.SideEffect)" }) |
            Should -Be @('ms_server->ms_tcpip False False', 'ms_msclient->ms_tcpip False False')
        @($warnings | ForEach-Object { "$_" }) | Should -BeLike 'ms_tcpip: ms_msclient->ms_tcpip: was 0 when changed, not 1 as listed: *'
        Get-State $file | Should -Contain 'ms_tcpip ms_msclient->ms_tcpip False'
    }
}

Describe 'Failures' {
    It '<Failure>: <Category>, and no object claims a change not made' -ForEach @(
        @{ Failure = 'the lock held'; Fault = 'fail INetCfgLock.AcquireWriteLock * 1'; Category = 'ResourceBusy'; Changed = $false }
        @{ Failure = 'access denied'; Fault = 'fail INetCfgLock.AcquireWriteLock * 80070005'; Category = 'PermissionDenied'; Changed = $false }
        @{ Failure = 'Enable refused'; Fault = 'fail INetCfgBindingPath.Enable * 8004a024'; Category = 'WriteError'; Changed = $false }
        @{ Failure = 'Apply failed'; Fault = 'fail INetCfg.Apply * 80004005'; Category = 'WriteError'; Changed = $false }
        @{ Failure = 'a restart pending'; Fault = 'fail INetCfg.Apply * 4a020'; Category = $null; Changed = $true }
        @{ Failure = 'bindings unreachable'; Fault = 'fail INetCfgComponent.QueryInterface * 80004002'; Category = 'ReadError'; Changed = $false }
    ) {
        $file = Use-Machine -Extra $Fault
        $before = Get-State $file
        $warnings = $null
        $passed = @(Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->ms_tcpip6' -PassThru `
                -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures -WarningAction SilentlyContinue `
                -WarningVariable warnings)
        $changed = (Get-State $file) -contains 'ms_tcpip6 ms_server->ms_tcpip6 False'
        $changed | Should -Be $Changed
        if ($Category) {
            @($failures | ForEach-Object { [string]$_.CategoryInfo.Category }) | Should -Contain $Category
            $failures[0].Exception.Message | Should -Match 'ferrule: .*returned|failed - error code'
            if ($Failure -in 'Enable refused', 'Apply failed') {
                $failures[0].Exception.Message | Should -BeLike 'ms_tcpip6: ms_server->ms_tcpip6: ferrule: *'
                $failures[0].TargetObject.Path | Should -Be 'ms_server->ms_tcpip6'
            }
            @($passed | Where-Object { -not $_.Enabled }).Count | Should -Be 0
        } else {
            $failures.Count | Should -Be 0
            $warnings.Count | Should -Be 1
            $passed.Count | Should -Be 1
            $passed[0].Enabled | Should -BeFalse
            $passed[0].RebootRequired | Should -BeTrue
        }
        if (-not $Changed) { Get-State $file | Should -Be $before }
    }

    # A forged name, and a ferrule (a script here) whose lines are not what it
    # prints: no object claims a path or a state that ferrule did not print for it.
    It 'reads only what ferrule said: <Case>' -ForEach @(
        @{ Case = 'a display name that holds a path''s line'; Machine = 'control'; Objects = @('ms_server->ms_????mix True',
                'ms_x?->ms_????mix False', 'ms_server->ms_tab?esc? True'); Categories = @()
            Run = { Get-FerruleBinding -Class Protocol } }
        @{ Case = 'the forged path, disabled'; Machine = 'control'; Objects = @(); Categories = @('ObjectNotFound')
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_ghost'; Path = 'ms_server->ms_ghost' } |
                    Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'a name of two lines'; Objects = @('x->b True'); Categories = @('InvalidResult', 'NotSpecified', 'NotSpecified')
            Listing = 'b (Before)', '    x->b: 1', 'a (Two-line', 'name)', '    p->a: 1'; Run = { Get-FerruleBinding -Class Protocol } }
        @{ Case = 'a listing''s line in a change'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 0', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'another path changed'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_other->ms_tcpip: 1->0', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'a state before that was not listed'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 0->0', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'another state set'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1->1', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
    ) {
        if (-not $Machine) { $Machine = 'sample' }
        Use-Machine $Machine | Out-Null
        $exe = $env:FERRULE_EXE
        if ($Listing) {
            $fake = Join-Path $TestDrive 'fake-ferrule'
            $quoted = { param($lines) (@($lines) | ForEach-Object { "'" + $_ + "'" }) -join ' ' }
            [IO.File]::WriteAllText($fake, "#!/bin/sh`ncase `"`$*`" in`n*disable*) printf '%s\n' $(& $quoted $Change) ;;`n" +
                "*) printf '%s\n' $(& $quoted $Listing) ;;`nesac`n")
            chmod 755 $fake
            $env:FERRULE_EXE = $fake
        }
        try { $all = @(& $Run 2>&1) } finally { $env:FERRULE_EXE = $exe }
        $failures = @($all | Where-Object { $_ -is [Management.Automation.ErrorRecord] })
        @($all | Where-Object { $_ -isnot [Management.Automation.ErrorRecord] } | ForEach-Object { "$($_.Path) $($_.Enabled)" }) |
            Should -Be $Objects
        @($failures | ForEach-Object { [string]$_.CategoryInfo.Category } | Sort-Object) | Should -Be $Categories
        if ($Change) { $failures[0].Exception.Message | Should -BeLike '*not understood, and the change may have been made*' }
    }

    It 'gives no empty answer for a listing that could not be made' {
        Use-Machine -Extra 'fail INetCfgLock.AcquireWriteLock * 1' | Out-Null
        $got = @(Get-FerruleBinding -Class Protocol -ErrorAction SilentlyContinue -ErrorVariable failures)
        $got.Count | Should -Be 0
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'ResourceBusy'
        $failures[0].Exception.Message | Should -Be 'ferrule: lock->AcquireWriteLock() returned 1'
    }

    # ferrule.exe refuses, with its usage line, an argument that the ANSI code
    # page would have turned into another (the stand-in takes the bytes as given).
    It 'passes on a refused argument as InvalidArgument' -Skip:(-not $env:FERRULE_TEST_CODE_PAGE) {
        $file = Use-Machine
        $got = @(Get-FerruleBinding -Class Protocol -ComponentID "ms_tcpip$([char]0xFF16)" -ErrorAction SilentlyContinue -ErrorVariable failures)
        $got.Count | Should -Be 0
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'InvalidArgument'
        $failures[0].Exception.Message | Should -Match 'refused its arguments: usage: '
        Test-Path "$file.journal" | Should -BeFalse
    }

    It 'says so when a change matches nothing' {
        $file = Use-Machine
        Disable-FerruleBinding -Class Protocol -ComponentID 'ms_tcpip_typo' -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures
        $failures[0].CategoryInfo.Category | Should -Be 'ObjectNotFound'
        Get-Calls $file 'INetCfg\.Apply' | Should -BeNullOrEmpty
    }

    It 'stops the pipeline when ferrule is stopped' {
        $file = Use-Machine -Extra 'delay INetCfg.Apply 1 3000'
        $marker = [IO.Path]::GetFileName($file)
        # Once the apply has begun, the ferrule of this machine alone is asked to stop.
        $stopper = Start-ThreadJob -ArgumentList "$file.journal", $marker {
            param($journal, $marker)
            for ($i = 0; $i -lt 200; $i++) {
                if ((Test-Path $journal) -and (Get-Content $journal -Raw) -match 'delay: INetCfg\.Apply') { break }
                Start-Sleep -Milliseconds 50
            }
            foreach ($id in @(pgrep -x 'ferrule(\.exe)?')) {
                $environment = Get-Content "/proc/$id/environ" -Raw -ErrorAction SilentlyContinue
                if ($environment -and $environment.Contains($marker)) { kill -INT $id }
            }
        }
        { Disable-FerruleBinding -Class Protocol -ComponentID * -Confirm:$false -ErrorAction SilentlyContinue } |
            Should -Throw -ErrorId 'Ferrule.Stopped,Disable-FerruleBinding'
        $stopper | Wait-Job | Remove-Job
        # The component in hand was finished, and no other was begun.
        @(Get-Calls $file '^INetCfg\.Apply\(').Count | Should -Be 1
    }
}

Describe 'Running ferrule' {
    # Each word as the C runtime reads it back from a command line, and that
    # reading done by a real program (python3 here, started as the module starts
    # ferrule).
    It 'quotes <Case> as the C runtime splits it' -ForEach @(
        @{ Case = 'an empty word'; Word = ''; Quoted = '""' }
        @{ Case = 'a plain word'; Word = 'ms_tcpip'; Quoted = 'ms_tcpip' }
        @{ Case = 'spaces'; Word = 'Ethernet 2 '; Quoted = '"Ethernet 2 "' }
        @{ Case = 'a tab'; Word = "a`tb"; Quoted = "`"a`tb`"" }
        @{ Case = 'quotation marks'; Word = 'say "hi"'; Quoted = '"say \"hi\""' }
        @{ Case = 'backslashes before a quotation mark'; Word = 'a\\"b'; Quoted = '"a\\\\\"b"' }
        @{ Case = 'backslashes alone'; Word = 'C:\dir\\x'; Quoted = 'C:\dir\\x' }
        @{ Case = 'backslashes at the end'; Word = 'C:\my dir\\'; Quoted = '"C:\my dir\\\\"' }
        @{ Case = 'a final line feed'; Word = "C:\dir\`n"; Quoted = "`"C:\dir\`n`"" }
        @{ Case = 'backslashes before a final line feed'; Word = "a b\\`n"; Quoted = "`"a b\\`n`"" }
        @{ Case = 'characters beyond ASCII'; Word = "Pr$([char]0xFC)fung $([char]0x78BA)$([char]0x8A8D)"
            Quoted = "`"Pr$([char]0xFC)fung $([char]0x78BA)$([char]0x8A8D)`"" }
    ) {
        $module = Get-Module Ferrule
        & $module { param($word) ConvertTo-QuotedArgument -Word $word } $Word | Should -BeExactly $Quoted
        $python = (Get-Command python3 -CommandType Application | Select-Object -First 1).Source
        $commandLine = & $module {
            param($word)
            ConvertTo-CommandLine -ArgumentList @('-c', 'import json, sys; print(json.dumps(sys.argv[1:]))', $word, 'after')
        } $Word
        $run = @(& $module { param($path, $line) & $script:RunExe -Path $path -CommandLines @($line) -StopAt @() } $python $commandLine)[0]
        @(($run.Lines -join "`n") | ConvertFrom-Json) | Should -BeExactly @($Word, 'after')
    }

    It 'reads output without a console in the system''s OEM code page, <Case>' -ForEach @(
        @{ Case = 'not the culture''s'; Console = $false; Registry = '437'; Culture = 932; Expected = 437 }
        @{ Case = 'the culture''s where the registry has none'; Console = $false; Registry = ''; Culture = 850; Expected = 850 }
        @{ Case = 'and as UTF-8 with one'; Console = $true; Registry = '437'; Culture = 932; Expected = 65001 }
    ) {
        & (Get-Module Ferrule) {
            param($console, $registry, $culture)
            & $script:OutputCodePage -Console $console -OemCodePage $registry -CultureCodePage $culture
        } $Console $Registry $Culture | Should -Be $Expected
    }
}

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
        $trail = @(& $command -Path $Path -Force:([bool]$Force) -WhatIf:([bool]$WhatIf) -Confirm:$false -ErrorAction SilentlyContinue `
                -ErrorVariable failures -Verbose 4>&1 | ForEach-Object { "$_" })
        # The trail says what the guard looked at, and which listings a change makes for what Windows changes beside.
        @($trail | Where-Object { $_ -like '*: the guard looked at the session addresses *' }).Count | Should -Be ([int][bool]$Refusal)
        if (-not $Refusal -and -not $WhatIf) { @($trail | Where-Object { $_ -like '*: listing class * beside the changes' }).Count | Should -Be 7 }
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

Describe 'Confirmation' {
    # A prompt that cannot be shown (pwsh -NonInteractive) is no: every row's
    # command runs in one child pwsh, with no try around it, on a machine of
    # its own, and must end with one error and change nothing.
    BeforeDiscovery {
        $rows = @(
            @{ Case = 'Disable, by default'; Command = 'Disable-FerruleBinding -ComponentID ms_tcpip6' }
            @{ Case = 'Disable -Confirm'; Command = 'Disable-FerruleBinding -ComponentID ms_tcpip6 -Confirm' }
            @{ Case = 'Disable, ConfirmPreference Low'; Command = '$global:ConfirmPreference = ''Low''; Disable-FerruleBinding -ComponentID ms_tcpip6' }
            @{ Case = 'Enable -Confirm'; Command = 'Enable-FerruleBinding -ComponentID ms_tcpip6 -Confirm' }
            @{ Case = 'Enable, ConfirmPreference Low'; Command = '$global:ConfirmPreference = ''Low''; Enable-FerruleBinding -ComponentID ms_tcpip6' }
            @{ Case = 'Set, by default'; Command = 'Set-FerruleBinding -ComponentID ms_tcpip6 -Name * -Enabled $false' }
            @{ Case = 'Set -Confirm'; Command = 'Set-FerruleBinding -ComponentID ms_tcpip6 -Name * -Enabled $false -Confirm' }
            @{ Case = 'Set from a row, ConfirmPreference Low'
                Command = '$global:ConfirmPreference = ''Low''; [pscustomobject]@{ Name = ''Wi-Fi''; ComponentID = ''ms_tcpip''; Enabled = $false } | Set-FerruleBinding' }
        )
        $script:ConfirmationRows = @(foreach ($row in $rows) { $row + @{ Rows = $rows } })
    }

    BeforeAll {
        # Runs every row's command at once, the first time a row asks.
        function Invoke-Confirmation([object[]]$Rows) {
            if ($script:Confirmations) { return }
            $script:Confirmations = @{}
            $lines = @("Import-Module '$(Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Ferrule.psd1')'",
                'function global:Get-NetAdapter([switch]$IncludeHidden) {',
                "    [pscustomobject]@{ Name = 'Ethernet 2'; InterfaceGuid = '$Ethernet' }",
                "    [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceGuid = '$WiFi' }", '}')
            foreach ($row in $Rows) {
                $file = Use-Machine
                $script:Confirmations[$row.Case] = $file
                $lines += "`$env:STANDIN_MACHINE = '$file'; `$env:STANDIN_JOURNAL = '$file.journal'"
                $lines += "`$records = & { $($row.Command) } 2>&1"
                $lines += "`$global:ConfirmPreference = 'High'; `$records"
                $lines += "[IO.File]::WriteAllText('$file.errors', [string]@(`$records | Where-Object { `$_ -is [Management.Automation.ErrorRecord] }).Count)"
            }
            $child = Join-Path $TestDrive 'confirmation.ps1'
            [IO.File]::WriteAllText($child, ($lines -join "`n") + "`n")
            $pwsh = $env:FERRULE_PWSH
            if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
            $script:ConfirmationOutput = @(& $pwsh -NoProfile -NonInteractive -File $child 2>&1 | ForEach-Object { "$_" })
        }
    }

    It 'makes no change that was not confirmed: <Case>' -ForEach $ConfirmationRows {
        Invoke-Confirmation -Rows $Rows
        $file = $Confirmations[$Case]
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
        Get-Calls $file 'INetCfg\.Initialize' | Should -Not -BeNullOrEmpty
        [IO.File]::ReadAllText("$file.errors") | Should -Be '1'
        ($ConfirmationOutput -join "`n") | Should -BeLike '*The change was not confirmed, and nothing was changed*'
    }
}

Describe 'What runs on another machine' {
    # The steps of Private/Remote.ps1, and the blocks that travel inside them
    # (Process.ps1's, Machine.ps1's), are sent to another machine as text,
    # where nothing of the module's is.
    BeforeDiscovery {
        $folder = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Private'
        $script:Blocks = @(foreach ($file in 'Process.ps1', 'Machine.ps1', 'Remote.ps1') {
                $ast = [System.Management.Automation.Language.Parser]::ParseFile((Join-Path $folder $file), [ref]$null, [ref]$null)
                $ast.EndBlock.Statements | Where-Object { $_ -is [System.Management.Automation.Language.AssignmentStatementAst] } |
                    ForEach-Object { @{ Name = $_.Left.VariablePath.UserPath; Block = $_.Right.Expression.ScriptBlock } }
            })
    }

    It 'finds every block that travels, and no other' {
        @($Blocks | ForEach-Object { $_.Name }) | Should -Be @('script:OutputCodePage', 'script:RunExe', 'script:AdapterNames',
            'script:MachineIdentity', 'script:WriteCheck', 'script:ProbeStep', 'script:CopyStep', 'script:RunStep',
            'script:ManagementStep')
        $travelling = @(& (Get-Module Ferrule) { (Get-RemoteBlock).Keys } | Where-Object { $_ -ne 'Launcher' } | Sort-Object)
        $travelling | Should -Be @('AdapterNames', 'MachineIdentity', 'OutputCodePage', 'RunExe', 'WriteCheck')
    }

    It '<Name> uses no function and no script variable of the module''s' -ForEach $Blocks {
        $functions = @(& (Get-Module Ferrule) { Get-Command -Module Ferrule -CommandType Function } | ForEach-Object Name)
        $functions.Count | Should -BeGreaterThan 10
        $used = @($Block.FindAll({ param($node)
                    ($node -is [System.Management.Automation.Language.CommandAst] -and $functions -contains $node.GetCommandName()) -or
                    ($node -is [System.Management.Automation.Language.VariableExpressionAst] -and $node.VariablePath.IsScript)
                }, $true) | ForEach-Object { $_.Extent.Text })
        $used | Should -BeNullOrEmpty
    }
}

Describe 'One table per concept' {
    BeforeDiscovery {
        $table = Join-Path (Split-Path $PSScriptRoot) 'unit/faults.table'
        $script:FailureLines = @(Get-Content $table | Where-Object { $_ -match '^\w' } | ForEach-Object { ($_ -split '\s+', 2)[1] } |
                Where-Object { $_ -ne '-' } | ForEach-Object { @{ Line = $_.Replace('%x', '80004005').Replace('%d', '0') } })
    }

    It 'gives "<Line>" a category of its own' -ForEach $FailureLines {
        $category = & (Get-Module Ferrule) {
            param($line)
            $failed = Split-FailureLine -Line $line
            if ($failed) { (Get-FailureCategory -Call $failed.Call -Code $failed.Code).Category }
        } $Line
        $category | Should -BeIn @([Enum]::GetNames([System.Management.Automation.ErrorCategory]))
    }

    It 'offers the classes of its table on <_>' -ForEach @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding') {
        $set = (Get-Command $_).Parameters['Class'].Attributes | Where-Object { $_ -is [System.Management.Automation.ValidateSetAttribute] }
        @($set.ValidValues) | Should -Be @(& (Get-Module Ferrule) { $script:ClassWords.Keys })
    }
}

Describe 'Messages' {
    # The keys that the module's code names: -Id constants of New-ErrorRecord
    # and Get-Message, Id = '...' in hashtables (the reasons of the remote
    # blocks), and the IDs that a row's reader assigns to $problem.
    BeforeAll {
        $folder = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule'
        $script:Used = @{}
        $script:ErrorIds = @{}
        foreach ($file in Get-ChildItem $folder -Recurse -Include *.ps1, *.psm1) {
            $ast = [System.Management.Automation.Language.Parser]::ParseFile($file.FullName, [ref]$null, [ref]$null)
            foreach ($command in $ast.FindAll({ param($n) $n -is [System.Management.Automation.Language.CommandAst] }, $true)) {
                $name = $command.GetCommandName()
                if ('New-ErrorRecord', 'Get-Message' -notcontains $name) { continue }
                $elements = $command.CommandElements
                for ($i = 1; $i -lt $elements.Count - 1; $i++) {
                    if ($elements[$i] -is [System.Management.Automation.Language.CommandParameterAst] -and $elements[$i].ParameterName -eq 'Id' -and
                        $elements[$i + 1] -is [System.Management.Automation.Language.StringConstantExpressionAst]) {
                        $script:Used[$elements[$i + 1].Value] = $true
                        if ($name -eq 'New-ErrorRecord') { $script:ErrorIds[$elements[$i + 1].Value] = $true }
                    }
                }
            }
            foreach ($literal in $ast.FindAll({ param($n) $n -is [System.Management.Automation.Language.HashtableAst] }, $true)) {
                foreach ($pair in $literal.KeyValuePairs) {
                    if ("$($pair.Item1)" -eq 'Id' -and "$($pair.Item2)" -match "^'(\w+)'$") { $script:ErrorIds[$Matches[1]] = $true }
                }
            }
            foreach ($assignment in $ast.FindAll({ param($n) $n -is [System.Management.Automation.Language.AssignmentStatementAst] }, $true)) {
                if ("$($assignment.Left)" -eq '$problem' -and "$($assignment.Right)" -match "^'(\w+)',") { $script:ErrorIds[$Matches[1]] = $true }
            }
        }
        $module = Get-Module Ferrule
        $script:FailureIds = @(& $module { @($script:FailureCategories | ForEach-Object { $_.Id }) + @($script:FailureIds.Values) } |
                Sort-Object -Unique)
        foreach ($id in @($script:ErrorIds.Keys)) { if ($script:FailureIds -notcontains $id) { $script:Used[$id] = $true } }
        $script:MessageTable = & $module { $script:Messages }
    }

    It 'has every message the module names, and names every message it has' {
        @($Used.Keys | Where-Object { -not $MessageTable.ContainsKey($_) }) | Should -BeNullOrEmpty
        @($MessageTable.Keys | Where-Object { -not $Used.ContainsKey($_) }) | Should -BeNullOrEmpty
        $Used.Count | Should -BeGreaterThan 40
    }

    It 'lists every error ID in about_Ferrule' {
        $about = Get-Help about_Ferrule | Out-String
        @(@($ErrorIds.Keys) + $FailureIds | Sort-Object -Unique | Where-Object { $about -notmatch "\bFerrule\.$_\b" }) |
            Should -BeNullOrEmpty
    }

    # Windows PowerShell 5.1 falls back to en-US only when the module says so.
    It 'speaks en-US under a UI culture without messages of its own' {
        $pwsh = $env:FERRULE_PWSH
        if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
        $manifest = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Ferrule.psd1'
        $said = & $pwsh -NoProfile -NonInteractive -Command ("[Threading.Thread]::CurrentThread.CurrentUICulture = 'de-DE'; " +
            "Import-Module '$manifest'; & (Get-Module Ferrule) { Get-Message -Id BaselineEmpty }") 2>&1
        "$said" | Should -Be 'The baseline has no rows: there is nothing to compare.'
    }
}

Describe 'Loading' {
    # AllSigned does not look at what Add-Type compiles: the module compiles
    # its C# only with the SHA-256 that its signed script gives.
    It 'imports <Case>' -ForEach @(
        @{ Case = 'as it was built'; Changed = $false }
        @{ Case = 'nothing when a byte of its C# has changed'; Changed = $true }
    ) {
        $copy = Join-Path $TestDrive "module-$Changed/Ferrule"
        New-Item -ItemType Directory -Force -Path (Split-Path $copy) | Out-Null
        Copy-Item -Recurse (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule') $copy
        if ($Changed) {
            $file = Join-Path $copy 'Types/Selection.cs'
            $bytes = [IO.File]::ReadAllBytes($file)
            $bytes[$bytes.Length - 2] = [byte][char]' '
            [IO.File]::WriteAllBytes($file, $bytes)
        }
        $pwsh = $env:FERRULE_PWSH
        if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
        $said = @(& $pwsh -NoProfile -NonInteractive -Command ("Import-Module '$copy/Ferrule.psd1' -ErrorAction Stop; " +
                "'loaded: ' + ('Ferrule.Selection' -as [type])") 2>&1 | ForEach-Object { "$_" })
        if ($Changed) {
            ($said -join ' ') | Should -BeLike '*Types/Selection.cs is not the file that the module was built with*'
            ($said -join ' ') | Should -Not -BeLike '*loaded: Ferrule.Selection*'
        } else {
            $said | Should -Be 'loaded: Ferrule.Selection'
        }
    }
}

Describe 'Help' {
    It 'shows about_Ferrule, the module''s rules' {
        Get-Help about_Ferrule | Out-String | Should -BeLike '*THE SESSION''S OWN ADAPTER*'
    }

    It 'runs every example of <_>' -ForEach $Commands {
        $examples = @((Get-Help $_).Examples.Example)
        $examples.Count | Should -BeGreaterThan 0
        Push-Location $TestDrive
        $confirm = $global:ConfirmPreference
        $global:ConfirmPreference = 'None'
        try {
            foreach ($example in $examples) {
                Use-Machine | Out-Null
                Set-AdapterStub
                $output = & ([scriptblock]::Create($example.Code)) 2>&1
                $failures = @($output | Where-Object { $_ -is [Management.Automation.ErrorRecord] })
                "$($example.Code): $failures" | Should -Be "$($example.Code): "
            }
        } finally {
            $global:ConfirmPreference = $confirm
            Pop-Location
        }
    }
}

Describe 'Windows PowerShell 5.1' {
    It 'reads <_>' -ForEach @(@(Get-ChildItem (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule') -File -Recurse) +
            @(Get-ChildItem (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'examples') -Filter *.ps1) | ForEach-Object FullName) {
        $file = $_
        Find-Windows51Problem -Path $file | Should -BeNullOrEmpty
    }

    It 'holds <_> to 120 columns' -ForEach @(@(Get-ChildItem (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module') -File -Recurse) +
            @(Get-ChildItem (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'examples') -File) | ForEach-Object FullName) {
        $file = $_
        $number = 0
        @(foreach ($line in [IO.File]::ReadAllLines($file)) {
                $number++
                if ($line.Length -gt 120) { "line ${number}: $($line.Length) columns" }
            }) | Should -BeNullOrEmpty
    }

    It 'refuses <What>' -ForEach @(
        @{ What = 'the ternary operator'; Code = '$a = $b ? 1 : 2' }
        @{ What = '&& between pipelines'; Code = 'Get-Item x && Get-Item y' }
        @{ What = '|| between pipelines'; Code = 'Get-Item x || Get-Item y' }
        @{ What = '??'; Code = '$a = $b ?? 1' }
        @{ What = '??='; Code = '$a ??= 1' }
        @{ What = '?.'; Code = '${a}?.Name' }
        @{ What = '?[]'; Code = '${a}?[0]' }
        @{ What = 'ForEach-Object -Parallel'; Code = '1, 2 | ForEach-Object -Parallel { $_ }' }
        @{ What = 'a clean block'; Code = 'function f { process { } clean { } }' }
        @{ What = '$IsWindows'; Code = 'if ($IsWindows) { }' }
        @{ What = '$IsLinux'; Code = 'if ($IsLinux) { }' }
        @{ What = '$IsMacOS'; Code = 'if ($IsMacOS) { }' }
        @{ What = '-AsHashtable'; Code = '"{}" | ConvertFrom-Json -AsHashtable' }
        @{ What = 'a character beyond ASCII without a byte-order mark'; Code = "'Pr$([char]0xFC)fung'"; Bytes = $true }
    ) {
        $file = Join-Path $TestDrive 'planted.ps1'
        [IO.File]::WriteAllText($file, $Code, (New-Object Text.UTF8Encoding $false))
        Find-Windows51Problem -Path $file | Should -Not -BeNullOrEmpty
    }

    It 'reads a file beyond ASCII that has a byte-order mark' {
        $file = Join-Path $TestDrive 'marked.ps1'
        [IO.File]::WriteAllText($file, "'Pr$([char]0xFC)fung'", (New-Object Text.UTF8Encoding $true))
        Find-Windows51Problem -Path $file | Should -BeNullOrEmpty
    }
}
