# The Ferrule module's rows (Private/Row.ps1), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

Describe 'Rows' {
    It 'puts saved states back from <Format>' -ForEach @(
        @{ Format = 'Export-Csv'; Save = { param($f) $input | Export-Csv -NoTypeInformation -Path $f }; Load = { param($f) Import-Csv $f } }
        @{ Format = 'Export-Clixml'; Save = { param($f) $input | Export-Clixml -Path $f }; Load = { param($f) Import-Clixml $f } }
        # Only the drift, each Changed row its path with Wanted as its state.
        @{ Format = 'the drift of Compare-FerruleBinding'; Drift = 7; Save = { param($f) $input | Export-Clixml -Path $f }
            Load = { param($f) Import-Clixml $f | Compare-FerruleBinding -IncludeEqual -IncludeNew } }
        @{ Format = 'the drift of Compare-FerruleBinding, through Export-Csv'; Drift = 7; Save = { param($f) $input | Export-Clixml -Path $f }
            Load = { param($f) Import-Clixml $f | Compare-FerruleBinding | Export-Csv -NoTypeInformation "$f.csv"; Import-Csv "$f.csv" } }
        # Files that release 0.1.0.3 saved of the sample (its adapter rows named the adapter as ComponentID), as
        # remediation scripts already deployed hold them.
        @{ Format = 'a CSV of release 0.1.0.3'; Release = 'bindings-0.1.0.3.csv'; Load = { param($f) Import-Csv $f } }
        @{ Format = 'a Clixml of release 0.1.0.3'; Release = 'bindings-0.1.0.3.xml'; Load = { param($f) Import-Clixml $f } }
    ) {
        $file = Use-Machine
        $saved = Join-Path $TestDrive "saved-$Format"
        $identity = $env:FERRULE_MACHINE_ID, $env:FERRULE_MACHINE_NAME
        if ($Release) { $env:FERRULE_MACHINE_ID, $env:FERRULE_MACHINE_NAME = '5e1f0c2a9b8d4e7f8a6b5c4d3e2f1a09', 'PC-SAVED' }
        try {
            $before = Get-State $file
            if (-not $Release) {
                Get-FerruleBinding -Class Protocol | & $Save $saved
                Get-FerruleBinding | & $Save "$saved-adapters"
            }
            Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Confirm:$false
            Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Confirm:$false
            Enable-FerruleBinding -Path 'ms_implat->*' -Confirm:$false
            Get-State $file | Should -Not -Be $before
            $applied = @(Get-Calls $file 'INetCfg\.Apply').Count
            $rows = $(if ($Release) { & $Load (Join-Path $PSScriptRoot "saved/$Release") } else { & $Load $saved
                    & $Load "$saved-adapters" })
            $restored = @($rows | Set-FerruleBinding -PassThru -Confirm:$false -ErrorAction Stop)
        } finally {
            $env:FERRULE_MACHINE_ID, $env:FERRULE_MACHINE_NAME = $identity
        }
        Get-State $file | Should -Be $before
        $restored.Count | Should -Be $(if ($Drift) { $Drift } else { @(Read-Machine $file | Where-Object Class -In 'Protocol', 'Adapter').Count })
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
        @{ Case = 'of another machine by its MachineName alone'; Row = @{ MachineName = 'PC-OTHER' }; Category = 'InvalidArgument'
            Message = 'PC-OTHER: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of another machine by Get-NetAdapterBinding''s SystemName'; Row = @{ SystemName = 'PC-OTHER' }; Category = 'InvalidArgument'
            Message = 'PC-OTHER: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of another machine by Compare''s ComputerName'; Row = @{ ComputerName = 'PC-OTHER' }; Category = 'InvalidArgument'
            Message = 'PC-OTHER: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of this machine''s identity under another computer''s name'; Row = @{ MachineId = '<this>'; PSComputerName = 'pc01' }
            Category = 'InvalidArgument'; Message = 'pc01: ms_tcpip: ms_server->ms_tcpip is a row of another machine*' }
        @{ Case = 'of an adapter whose ComponentID is neither end of its Path'; Category = 'InvalidArgument'
            Whole = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip'; Path = "ms_tcpip6->$WiFi"; Enabled = $false }
            Message = "An Adapter row has the ComponentID 'ms_tcpip', which is neither the first element of its Path*" }
        @{ Case = 'whose names hold brackets, as a path that is not there'; Row = @{ ComponentID = 'ms_x[2]'; Path = 'ms_server->ms_x[2]' }
            Category = 'ObjectNotFound'; Message = 'No binding path ms_x`[2`]: ms_server->ms_x`[2`] of class Protocol.' }
        @{ Case = 'with a misspelt property'; Row = @{ Nmae = 'Wi-Fi' }; Category = 'InvalidArgument'
            Message = 'Nmae: did you mean Name? *Select-Object -Property * -ExcludeProperty Nmae.' }
        @{ Case = 'with a column added by hand'; Row = @{ Note = 'keep' }; Category = 'InvalidArgument'; Message = 'Note: did you mean *-ExcludeProperty Note.' }
        @{ Case = 'of Get''s own, with a column added by hand'; Live = @{ Note = 'keep' }; Category = 'InvalidArgument'
            Message = 'Note: did you mean *-ExcludeProperty Note.' }
        @{ Case = 'whose value cannot be made text'; Category = 'InvalidArgument'; Message = "A row's ComponentID cannot be read as text (*"
            Row = @{ ComponentID = & { $value = New-Object psobject
                    Add-Member -InputObject $value -MemberType ScriptMethod -Name ToString -Value { throw 'no text' } -Force -PassThru } } }
        @{ Case = 'whose Name and InterfaceAlias disagree'; Category = 'InvalidArgument'; Message = "A row has Name 'Wi-Fi' and InterfaceAlias 'Ethernet 2'*"
            Row = @{ Class = 'Adapter'; ComponentID = 'ms_tcpip'; Path = ''; Name = 'Wi-Fi'; InterfaceAlias = 'Ethernet 2' } }
        @{ Case = 'whose InterfaceDescription and ifDesc disagree'; Row = @{ InterfaceDescription = 'Intel A'; ifDesc = 'Intel B' }
            Category = 'InvalidArgument'; Message = "A row has InterfaceDescription 'Intel A' and ifDesc 'Intel B'*" }
        @{ Case = 'that gives Path twice, as keys that differ by case'; Category = 'InvalidArgument'; Message = 'A row has Path and path*'
            Whole = '{"Class":"Protocol","ComponentID":"ms_tcpip","Path":"ms_server->ms_tcpip","path":"ms_server->ms_netbt","Enabled":false}' |
                ConvertFrom-Json -AsHashtable }
        @{ Case = 'that gives Path as a key and as a note property'; Category = 'InvalidArgument'; Message = 'A row has Path and path*'
            Whole = & { $h = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = $false }
                Add-Member -InputObject $h -NotePropertyName path -NotePropertyValue 'ms_server->ms_netbt' -PassThru } }
        @{ Case = 'of drift Missing'; Category = 'InvalidArgument'; Message = 'A Compare row of drift Missing*'
            Whole = [pscustomobject]@{ ComputerName = 'localhost'; Drift = 'Missing'; Class = 'Protocol'; ComponentID = 'ms_tcpip'; Name = $null
                Path = 'ms_server->ms_tcpip'; Wanted = $false; Found = $null; Optional = $false } }
        @{ Case = 'of drift Unmatched'; Category = 'InvalidArgument'; Message = 'A Compare row of drift Unmatched*'
            Whole = [pscustomobject]@{ ComputerName = 'localhost'; Drift = 'Unmatched'; Class = 'Adapter'; ComponentID = 'ms_tcpip'; Name = 'Wi-Fi'
                Path = $null; Wanted = $false; Found = $null; Optional = $false } }
        @{ Case = 'that is an adapter of Get-NetAdapter'; Category = 'InvalidArgument'; Message = "An adapter of Get-NetAdapter ('Wi-Fi')*"
            Whole = [pscustomobject]@{ PSTypeName = 'Microsoft.Management.Infrastructure.CimInstance#ROOT/StandardCimv2/MSFT_NetAdapter'
                Name = 'Wi-Fi'; InterfaceAlias = 'Wi-Fi'; ifIndex = 7; ComponentID = 'PCI\VEN_8086&DEV_A0F0'; InterfaceGuid = $WiFi } }
        @{ Case = 'that is an adapter of Get-NetAdapter, through CSV'; Category = 'InvalidArgument'; Message = "An adapter of Get-NetAdapter ('Wi-Fi')*"
            Whole = [pscustomobject]@{ Name = 'Wi-Fi'; ComponentID = 'PCI\VEN_8086&DEV_A0F0'; CimClass = 'ROOT/StandardCimv2:MSFT_NetAdapter'; ifIndex = '7' } }
    ) {
        $file = Use-Machine
        $given = $Whole
        if ($Live) {
            $given = @(Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip')[0]
            foreach ($key in $Live.Keys) { Add-Member -InputObject $given -NotePropertyName $key -NotePropertyValue $Live[$key] }
            Remove-Item "$file.journal"
        }
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
            Computer = $null; Changed = @("ms_lltdio ms_lltdio->$Ethernet False", "ms_lltdio ms_lltdio->$WiFi False") }
        @{ Case = 'with a literal component and a path pattern (a rule)'; Row = @{ Path = 'ms_server->*' }; Computer = $null
            Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'of this machine''s identity'; Row = @{ MachineId = '<this>' }; Computer = $null
            Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'that is a hashtable'; Whole = @{ Class = 'Protocol'; ComponentID = 'ms_netbt'; Path = 'ms_server->ms_netbt'; Enabled = $false }
            Computer = $null; Changed = @('ms_netbt ms_server->ms_netbt False') }
        @{ Case = 'whose Optional cell is empty'; Row = @{ Optional = '' }; Computer = $null; Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'of Get-NetAdapterBinding''s shape, as a hashtable'; Computer = $null; Changed = @("ms_tcpip6 ms_tcpip6->$Ethernet False")
            Whole = @{ Name = 'Ethernet 2'; ComponentID = 'ms_tcpip6'; Enabled = $false } }
        @{ Case = 'of Get-NetAdapterBinding''s shape'; Computer = $null; Changed = @("ms_tcpip6 ms_tcpip6->$Ethernet False")
            Whole = [pscustomobject]@{ Name = 'Ethernet 2'; InterfaceAlias = 'Ethernet 2'; DisplayName = 'Internet Protocol Version 6 (TCP/IPv6)'
                ComponentID = 'ms_tcpip6'; Enabled = $false } }
        @{ Case = 'of Get-NetAdapterBinding''s shape, through CSV'; Computer = $null; Changed = @("ms_lltdio ms_lltdio->$WiFi False")
            Whole = @([pscustomobject]@{ InterfaceAlias = 'Wi-Fi'; ComponentID = 'ms_lltdio'; Enabled = $false } |
                    ConvertTo-Csv -NoTypeInformation | ConvertFrom-Csv)[0] }
        @{ Case = 'of Get-NetAdapterBinding''s shape, piped to Disable'; Computer = $null; Through = 'Disable'
            Changed = @("ms_tcpip ms_tcpip->$WiFi False")
            Whole = [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceAlias = 'Wi-Fi'; ComponentID = 'ms_tcpip'; Enabled = $true } }
        @{ Case = 'of Get-NetAdapterBinding, every property a real one has'; Computer = $null; Changed = @("ms_lltdio ms_lltdio->$WiFi False")
            Whole = $NetAdapterBindingRow }
        @{ Case = 'saved before, that names an adapter alone by its bind name'; Computer = $null
            Whole = [pscustomobject]@{ Class = 'Adapter'; ComponentID = $WiFi; Enabled = $false }
            Changed = @('ms_server', 'ms_msclient', 'ms_tcpip', 'ms_pacer', 'ms_lltdio', 'ms_rspndr', 'ms_lldp' | ForEach-Object { "$_ $_->$WiFi False" }) }
        @{ Case = 'with InterfaceAlias beside Class'; Computer = $null; Changed = @("ms_tcpip ms_tcpip->$WiFi False")
            Whole = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip'; InterfaceAlias = 'Wi-Fi'; Enabled = $false } }
        @{ Case = 'of ConvertFrom-Json -AsHashtable, its path in lower case'; Computer = $null; Changed = @('ms_tcpip ms_server->ms_tcpip False')
            Whole = '{"Class":"Protocol","ComponentID":"ms_tcpip","path":"ms_server->ms_tcpip","Enabled":false}' | ConvertFrom-Json -AsHashtable }
        @{ Case = 'that is a Dictionary with PATH'; Computer = $null; Changed = @('ms_tcpip ms_server->ms_tcpip False')
            Whole = & { $d = New-Object 'System.Collections.Generic.Dictionary[string,object]'
                $d['CLASS'] = 'Protocol'; $d['ComponentID'] = 'ms_tcpip'; $d['PATH'] = 'ms_server->ms_tcpip'; $d['enabled'] = $false; , $d } }
        @{ Case = 'that is a hashtable with Path as a note property'; Computer = $null; Changed = @('ms_tcpip ms_server->ms_tcpip False')
            Whole = Add-Member -InputObject @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Enabled = $false } -NotePropertyName Path `
                -NotePropertyValue 'ms_server->ms_tcpip' -PassThru }
        @{ Case = 'of the module''s own, whose component holds brackets'; Computer = $null; Through = 'Disable'
            Extra = 'class proto', 'component "ms_x[1]" "X"', 'path "ms_server->ms_x[1]" enabled', 'component ms_x1 "X1"', 'path "ms_server->ms_x1" enabled'
            Changed = @('ms_x[1] ms_server->ms_x[1] False')
            Whole = [pscustomobject]@{ PSTypeName = 'Deserialized.Ferrule.Binding'; Class = 'Protocol'; ComponentID = 'ms_x[1]'; DisplayName = 'X'
                Path = 'ms_server->ms_x[1]'; Enabled = $true; Name = $null; RebootRequired = $false; SideEffect = $false } }
        @{ Case = 'of the module''s own type, whose path holds ?, as that one path'; Computer = $null; Extra = $Lookalike; Changed = @('ms_q ms_a?->x False')
            Whole = [pscustomobject]@{ PSTypeName = 'Ferrule.Binding'; Class = 'Service'; ComponentID = 'ms_q'; Path = 'ms_a?->x'; Enabled = $false } }
        @{ Case = 'that carries MachineId, whose path holds ?, as that one path'; Computer = $null; Extra = $Lookalike; Changed = @('ms_q ms_a?->x False')
            Whole = [pscustomobject]@{ Class = 'Service'; ComponentID = 'ms_q'; Path = 'ms_a?->x'; Enabled = 'False'; MachineId = '' } }
        @{ Case = 'beside a path whose state could not be read, which it does not name'; Computer = $null
            Extra = 'fail INetCfgBindingPath.IsEnabled 1 80004005'; Changed = @('ms_tcpip ms_server->ms_tcpip False') }
        @{ Case = 'piped to Set -Enabled $false, its own Enabled not read'; Computer = $null; State = $false
            Changed = @('ms_tcpip ms_server->ms_tcpip False')
            Whole = [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = $true } }
        @{ Case = 'of Compare, Equal, which asks for nothing'; Computer = $null; Changed = @()
            Whole = [pscustomobject]@{ PSTypeName = 'Ferrule.BindingDrift'; ComputerName = 'localhost'; Drift = 'Equal'; Class = 'Protocol'
                ComponentID = 'ms_tcpip'; Name = $null; Path = 'ms_server->ms_tcpip'; Wanted = $false; Found = $false; Optional = $false } }
    ) {
        $file = Use-Machine -Extra @($Extra)
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
        $oneState = @{}
        if ($null -ne $State) { $oneState.Enabled = $State }
        $passed = @(, $given | & $command -PassThru -Confirm:$false -ErrorAction Stop @oneState)
        @(Compare-Object $before (Get-State $file) -PassThru | Where-Object SideIndicator -EQ '=>') | Should -Be $Changed
        $passed.Count | Should -BeGreaterOrEqual $Changed.Count
        foreach ($one in $passed) {
            $property = $one.PSObject.Properties['PSComputerName']
            $(if ($property) { $property.Value }) | Should -Be $Computer
        }
    }

    It 'knows each property of <Source>, as spelt there' -ForEach @(
        @{ Source = 'Get-FerruleBinding''s objects'; Names = { @(Get-FerruleBinding) + @(Get-FerruleBinding -Class Protocol) } }
        @{ Source = '-PassThru''s objects'
            Names = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->*' -PassThru -Confirm:$false } }
        @{ Source = 'Compare-FerruleBinding''s objects'
            Names = { @{ Class = 'Protocol'; ComponentID = 'ms_tcpip6'; Enabled = $false } | Compare-FerruleBinding -IncludeEqual -IncludeNew } }
        @{ Source = 'what a job adds'; Names = { Start-Job { [pscustomobject]@{ Class = 'Protocol' } } | Receive-Job -Wait -AutoRemoveJob } }
        @{ Source = 'Get-NetAdapterBinding''s objects, saved from a real one'; Names = { $NetAdapterBindingRow } }
        @{ Source = 'the names of an adapter that adapter bindings are to carry'
            Names = { [pscustomobject]@{ InterfaceAlias = 'Wi-Fi'; InterfaceDescription = 'Intel'; InterfaceGuid = $WiFi } } }
    ) {
        Use-Machine | Out-Null
        Set-AdapterStub
        $names = @(& $Names | ForEach-Object { $_.PSObject.Properties.Name } | Sort-Object -Unique)
        $names.Count | Should -BeGreaterThan 2
        @($names | Where-Object { @([Ferrule.RowReader]::Properties.Name) -cnotcontains $_ }) | Should -BeNullOrEmpty
    }

    It 'lists in about_Ferrule each property that rows have, read or ignored, as the reader reads it' {
        $about = [IO.File]::ReadAllText((Join-Path $root 'module/Ferrule/en-US/about_Ferrule.help.txt'))
        $table = [regex]::Match($about, '(?s)\n  PROPERTIES OF ROWS\n(.*?)\n  [A-Z]').Groups[1].Value
        @([regex]::Matches($table, '(?m)^    (\S+) +(read|ignored) ') | ForEach-Object { "$($_.Groups[1].Value) $($_.Groups[2].Value)" } |
                Sort-Object) |
            Should -Be @([Ferrule.RowReader]::Properties | ForEach-Object { "$($_.Name) $(if ($_.Read) { 'read' } else { 'ignored' })" } |
                    Sort-Object)
    }
}
