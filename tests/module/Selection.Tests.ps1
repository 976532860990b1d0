# The Ferrule module's selection (Private/Selection.ps1, Selected.ps1), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

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
            foreach ($name in 'DisplayName', 'InterfaceDescription', 'InterfaceGuid') {
                $want = $expected[$i].$name
                if ($null -ne $want) { $want = Get-Shown $want }
                $got[$i].$name | Should -Be $want
            }
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
            Expected = @("ms_server->$WiFi", "ms_msclient->$WiFi", "ms_tcpip->$WiFi", "ms_tcpip6->$WiFi", "ms_pacer->$WiFi",
                "ms_lltdio->$WiFi", "ms_rspndr->$WiFi", "ms_implat->$WiFi", "ms_lldp->$WiFi") }
        @{ Cim = $false; Selection = 'a name with a space, quoted for ferrule'; Parameters = @{ Class = 'Service'; ComponentID = 'my service' }
            Extra = 'component "my service" "Mine"', 'path "ms_tcpip->my service" enabled', 'component my "Other"', 'path "x->my" enabled'
            Expected = @('ms_tcpip->my service') }
        @{ Cim = $false; Selection = 'a component pattern beside a path named comp'; Parameters = @{ Class = 'Service'; ComponentID = 'ms_alpha*'; Path = 'comp' }
            Extra = 'component ms_alpha "Alpha"', 'path comp enabled', 'component ms_beta "Beta"', 'path comp enabled'
            Expected = @('comp'); Components = @('ms_alpha') }
        @{ Cim = $false; Selection = 'a component whose name holds brackets, which are themselves'; Parameters = @{ Class = 'Service'; ComponentID = 'ms_x[1]' }
            Extra = 'component "ms_x[1]" "X"', 'path "ms_server->ms_x[1]" enabled', 'component ms_x1 "X1"', 'path "ms_server->ms_x1" enabled'
            Expected = @('ms_server->ms_x[1]') }
        @{ Cim = $false; Selection = 'a path pattern that holds brackets'; Parameters = @{ Class = 'Service'; Path = '*[1]' }
            Extra = 'component "ms_x[1]" "X"', 'path "ms_server->ms_x[1]" enabled', 'component ms_x1 "X1"', 'path "ms_server->ms_x1" enabled'
            Expected = @('ms_server->ms_x[1]') }
        @{ Cim = $false; Selection = 'a path pattern beside a component named path'; Parameters = @{ Class = 'Service'; ComponentID = 'path'; Path = 'ms_s*' }
            Extra = 'component path "Path"', 'path ms_server->path enabled', 'path ms_tcpip->path enabled'
            Expected = @('ms_server->path'); Components = @('path') }
        @{ Cim = $false; Extra = @(); Selection = 'an adapter of Get-NetAdapter from the pipeline'; Piped = 'Wi-Fi'
            Parameters = @{ ComponentID = 'ms_tcpip*' }; Expected = @("ms_tcpip->$WiFi", "ms_tcpip6->$WiFi") }
        @{ Cim = $false; Extra = @(); Selection = 'nothing, where Get-NetAdapter gave no adapter'; Piped = 'none'
            Parameters = @{}; Expected = @() }
    ) {
        Use-Machine sample $Extra | Out-Null
        Set-AdapterStub -Cim:$Cim
        if ($Piped) {
            $got = @(Get-NetAdapter -Name $Piped | Get-FerruleBinding @Parameters -ErrorAction Stop)
        } else {
            $got = @(Get-FerruleBinding @Parameters -ErrorAction Stop)
        }
        @($got | ForEach-Object Path) | Should -Be $Expected
        if ($Components) { @($got | ForEach-Object ComponentID) | Should -Be $Components }
        if ($Parameters.ContainsKey('Name')) {
            $got | ForEach-Object { $_.Name | Should -BeLike $Parameters.Name }
        }
    }

    # From this machine's adapters and the well-known bind names alone: no
    # ferrule, no lock (the journal stays empty), no other machine.
    It 'completes <Line>' -ForEach @(
        @{ Line = 'Get-FerruleBinding -Name '; Expected = @("'Ethernet 2'", 'Wi-Fi') }
        @{ Line = 'Disable-FerruleBinding W'; Expected = @('Wi-Fi') }
        @{ Line = 'Set-FerruleBinding -InterfaceAlias eth'; Expected = @("'Ethernet 2'") }
        @{ Line = 'Enable-FerruleBinding -ComponentID ms_tcp'; Expected = @('ms_tcpip', 'ms_tcpip6') }
        # On adapters the component is the one bound to them: the adapter is -Name.
        @{ Line = "Get-FerruleBinding -ComponentID '{9E"; Expected = @() }
        @{ Line = 'Get-FerruleBinding -Class Protocol -ComponentID {'; Expected = @() }
        @{ Line = 'Get-FerruleBinding -Session $null -ComponentID ms_ser'; Expected = @('ms_server') }
        @{ Line = 'Get-FerruleBinding -Name B'; Names = "Bob$([char]0x2019)s Wi-Fi", "Lab $([char]0x201C)A$([char]0x201D)"
            Expected = @("'Bob$([char]0x2019)$([char]0x2019)s Wi-Fi'") }
        @{ Line = "Get-FerruleBinding -Name $([char]0x201C)L"; Names = "Bob$([char]0x2019)s Wi-Fi", "Lab $([char]0x201C)A$([char]0x201D)"
            Expected = @("'Lab $([char]0x201C)A$([char]0x201D)'") }
        @{ Line = 'Get-FerruleBinding -Name '; Names = '-x', '1e5'; Expected = @("'-x'", "'1e5'") }
    ) {
        $file = Use-Machine
        Set-AdapterStub -Names $Names
        $found = TabExpansion2 -inputScript $Line -cursorColumn $Line.Length
        @($found.CompletionMatches | ForEach-Object CompletionText) | Should -Be $Expected
        Test-Path "$file.journal" | Should -BeFalse
        # Each one, typed, is read back by PowerShell as its value.
        foreach ($match in $found.CompletionMatches) {
            & ([scriptblock]::Create("Write-Output $($match.CompletionText)")) | Should -BeExactly $match.ListItemText
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
        @{ Command = 'Disable'; Case = 'says so when a component matches nothing'; Parameters = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip_typo' }
            Paths = @(); Errors = @("No binding path of class Protocol matches -ComponentID 'ms_tcpip_typo'. There: ms_implat, " +
                'ms_lldp, ms_lltdio, ms_netbt, ms_rspndr, ms_tcpip, ms_tcpip6.') }
        @{ Command = 'Disable'; Case = 'says so when a wildcard matches nothing'; Parameters = @{ Class = 'Protocol'; Path = 'nothing*' }
            Paths = @(); Errors = @('No binding path matches -Class Protocol -Path nothing`*.') }
        @{ Command = 'Get'; Case = 'says so when an adapter name matches nothing'; Parameters = @{ Name = 'Ethernet 9' }
            Paths = @(); Errors = @("*'Ethernet 9'*names. There: Ethernet 2, Wi-Fi.") }
        @{ Command = 'Get'; Case = 'lays a typo in the component to the component alone'
            Parameters = @{ Name = 'Ethernet 2'; ComponentID = 'ms_tcpipv6' }
            Paths = @(); Errors = @("*-ComponentID 'ms_tcpipv6'*There: ms_implat, ms_lldp, ms_lltdio, ms_msclient, ms_pacer, ms_rspndr, ms_server, " +
                'ms_tcpip, ms_tcpip6.') }
        @{ Command = 'Get'; Case = 'says that a component by position is now a name'; Positional = 'ms_tcpip6'; Parameters = @{}
            Paths = @(); Errors = @("*'ms_tcpip6' is a component*-ComponentID is no longer positional*There: Ethernet 2, Wi-Fi.") }
        @{ Command = 'Disable'; Case = 'takes the adapter''s name by position'; Positional = 'Wi-Fi'; Parameters = @{ ComponentID = 'ms_pacer' }
            Paths = @("ms_pacer->$WiFi"); Errors = @() }
        @{ Command = 'Get'; Case = 'finds a bound component on adapters by its display name'
            Parameters = @{ DisplayName = 'Internet Protocol Version 6 (TCP/IPv6)' }; Paths = @("ms_tcpip6->$Ethernet", "ms_tcpip6->$WiFi")
            Errors = @() }
        @{ Command = 'Disable'; Case = 'turns File and Printer Sharing off one adapter by its display name'
            Parameters = @{ Name = 'Wi-Fi'; DisplayName = 'File and Printer Sharing*' }; Paths = @("ms_server->$WiFi"); Errors = @() }
        @{ Command = 'Get'; Case = 'takes an adapter''s description first'; Parameters = @{ DisplayName = 'Intel(R) Wi-Fi*'; Path = 'ms_tcpip->*' }
            Paths = @("ms_tcpip->$WiFi"); Errors = @() }
        @{ Command = 'Enable'; Case = 'takes -InterfaceAlias'; Parameters = @{ InterfaceAlias = 'Ethernet 2'; ComponentID = 'ms_implat' }
            Paths = @("ms_implat->$Ethernet"); Errors = @() }
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
        $positional = @($Positional | Where-Object { $_ })
        $got = @(& "$Command-FerruleBinding" @positional @Parameters @extra -ErrorAction SilentlyContinue -ErrorVariable failures)
        @($got | ForEach-Object Path) | Should -Be $Paths
        @($failures | ForEach-Object { [string]$_.CategoryInfo.Category } | Select-Object -Unique) | Should -Be @($Errors | ForEach-Object { 'ObjectNotFound' } | Select-Object -Unique)
        for ($i = 0; $i -lt $Errors.Count; $i++) { $failures[$i].Exception.Message | Should -BeLike $Errors[$i] }
        $failures.Count | Should -Be $Errors.Count
        $changed = @(Compare-Object $before (Get-State $file) -PassThru | Where-Object SideIndicator -EQ '=>')
        if ($Command -eq 'Get') { $changed | Should -BeNullOrEmpty } else { $changed.Count | Should -Be $Paths.Count }
    }

    # Whatever a selector holds, the outcome is the module's own error or
    # none, and nothing changes: each value as each selector of Get (an empty
    # one is PowerShell's to refuse, below), and as a row's ComponentID, Path
    # or Name piped to Set -WhatIf. No value names a path here but *, which
    # names them all.
    It 'gives only its own errors for a selector of <Case>' -ForEach @(
        @{ Case = 'a bracket left open'; Value = 'ms_server->ms_tcpi[p' }
        @{ Case = 'brackets about a name'; Value = '[ms_tcpip]' }
        @{ Case = 'backslashes'; Value = 'ms_tcpip\\\' }
        @{ Case = 'a regular expression''s signs'; Value = '(^ms_.+$){1}|x' }
        @{ Case = 'a lone surrogate'; Value = "ms_tcpip$([char]0xD800)" }
        @{ Case = 'control characters'; Value = "ms_tcpip`t`r`n$([char]0x1B)" }
        @{ Case = 'a NUL, where a command line ends'; Value = "ms_tcpip$([char]0)" }
        @{ Case = 'more characters than a command line takes'; Value = 'ms_tcpip' * 30000 }
        @{ Case = 'a star alone'; Value = '*' }
        @{ Case = 'nothing'; Value = '' }
    ) {
        $file = Use-Machine
        Set-AdapterStub
        $before = Get-State $file
        $failures = @()
        foreach ($selector in @(if ($Value) { 'ComponentID', 'Path', 'DisplayName', 'Name' })) {
            foreach ($class in 'Protocol', 'Adapter') {
                if ($selector -eq 'Name' -and $class -ne 'Adapter') { continue }
                $parameters = @{ Class = $class; $selector = $Value }
                $got = @(Get-FerruleBinding @parameters -ErrorAction SilentlyContinue -ErrorVariable failed)
                $all = @(Read-Machine $file | Where-Object Class -EQ $class).Count
                "$class $selector $($got.Count)" | Should -Be "$class $selector $(if ($Value -eq '*') { $all } else { 0 })"
                $failures += $failed
            }
        }
        foreach ($row in @{ ComponentID = $Value }, @{ Path = $Value }, @{ Class = 'Adapter'; Path = ''; Name = $Value }) {
            $fields = [ordered]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = $false }
            foreach ($key in $row.Keys) { $fields[$key] = $row[$key] }
            [pscustomobject]$fields | Set-FerruleBinding -WhatIf -ErrorAction SilentlyContinue -ErrorVariable failed -WarningAction SilentlyContinue
            $failures += $failed
        }
        @($failures | Where-Object { $_.FullyQualifiedErrorId -notlike 'Ferrule.*' } | ForEach-Object { "$($_.FullyQualifiedErrorId): $_" }) |
            Should -BeNullOrEmpty
        Get-State $file | Should -Be $before
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
    }

    # Only * and ? are wildcards, and to the value's end; a star's text is
    # kept where it first fits, so that a match takes no longer than the
    # pattern's length times the value's (it is given 5 seconds here).
    It 'matches <Pattern> to <Value>: <Matched>' -ForEach @(
        @{ Pattern = 'ms_tcpi[p'; Value = 'ms_tcpi[p'; Matched = $true }
        @{ Pattern = '[ms]_tcpip'; Value = 's_tcpip'; Matched = $false }
        @{ Pattern = 'ms\tcpip'; Value = 'ms\tcpip'; Matched = $true }
        @{ Pattern = '(ms)?.+'; Value = '(ms)x.+'; Matched = $true }
        @{ Pattern = 'MS_TCPIP'; Value = "ms_tcpip`n"; Matched = $false }
        @{ Pattern = '*'; Value = "a`nb"; Matched = $true }
        @{ Pattern = 'a*b*c'; Value = 'aXcYb'; Matched = $false }
        @{ Pattern = '*ab*ab'; Value = 'xabyab'; Matched = $true }
        @{ Pattern = '*a?c*'; Value = 'xxabcyy'; Matched = $true }
        @{ Pattern = ('*a' * 12) + '*b'; Value = 'a' * 60; Matched = $false }
    ) {
        $regex = & (Get-Module Ferrule) { param($pattern) ConvertTo-WildcardRegex -Pattern $pattern } $Pattern
        $timed = New-Object System.Text.RegularExpressions.Regex $regex.ToString(), $regex.Options, ([TimeSpan]::FromSeconds(5))
        $timed.IsMatch($Value) | Should -Be $Matched
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
        @{ Command = 'Get'; Case = 'piped input that is no adapter'; Parameters = @{}; Id = 'Ferrule.InputNotAdapter,*'
            Piping = { Get-NetAdapter -Name 'Wi-Fi'; 'Wi-Fi' } }
        @{ Command = 'Get'; Case = 'a piped adapter with another class'; Parameters = @{ Class = 'Protocol' }
            Id = 'Ferrule.InputNeedsAdapter,*'; Piping = { Get-NetAdapter -Name 'Wi-Fi' } }
        @{ Command = 'Disable'; Case = 'a piped adapter and no selector'; Parameters = @{}; Id = 'Ferrule.NoSelector,*'
            Piping = { Get-NetAdapter -Name 'Wi-Fi' } }
        @{ Command = 'Disable'; Case = 'a piped adapter beside a row'; Parameters = @{ ComponentID = 'ms_tcpip6' }
            Id = 'Ferrule.InputMixed,*'; Piping = { Get-NetAdapter -Name 'Wi-Fi'; Get-FerruleBinding -Name 'Wi-Fi' -ComponentID ms_tcpip } }
        @{ Command = 'Enable'; Case = 'a selector beside piped rows'; Parameters = @{ ComponentID = 'ms_tcpip6' }
            Id = 'Ferrule.SelectorNeedsAdapters,*'; Piping = { Get-FerruleBinding -Name 'Wi-Fi' -ComponentID ms_tcpip } }
    ) {
        $file = Use-Machine
        Set-AdapterStub
        $thrown = $null
        $extra = @{}
        if ($Command -ne 'Get') { $extra = @{ Confirm = $false } }
        $piped = $(if ($Piping) { @(& $Piping) })
        if (Test-Path "$file.journal") { Remove-Item "$file.journal" }
        try {
            if ($Piping) {
                $piped | & "$Command-FerruleBinding" @Parameters @extra -ErrorAction Stop
            } else {
                & "$Command-FerruleBinding" @Parameters @extra -ErrorAction Stop
            }
        } catch { $thrown = $_ }
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
