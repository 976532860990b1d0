# The Ferrule module's drift (Private/Drift.ps1), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

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
        @{ Case = 'an optional rule that names paths, compared as any rule'
            Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false; Optional = $true })
            Expected = @("Changed ms_tcpip6->$Ethernet False True") }
        @{ Case = 'a typo in a rule''s component'; Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpipv6'; Name = '*'; Enabled = $false })
            Expected = @('Unmatched ms_tcpipv6 False ') }
        @{ Case = 'a typo in a rule''s connection name'; Rules = @(@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'Etherent*'; Enabled = $false })
            Expected = @('Unmatched ms_tcpip6 False '); Shown = '*Unmatched False * ms_tcpip6 Etherent`**' }
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
        $said = { process {
                $named = $(if ($_.Path) { $_.Path } else { $_.ComponentID })
                ("$($_.Drift) $named $($_.Wanted) $($_.Found)" + $(if ($_.Optional) { ' optional' }))
            } }
        @($drift | & $said) | Should -Be $Expected
        @($drift | ForEach-Object { $_.PSObject.TypeNames[0] } | Select-Object -Unique) | Should -Be @($Expected | ForEach-Object { 'Ferrule.BindingDrift' } | Select-Object -Unique)
        Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty
        Get-Calls $file 'INetCfg\.Initialize' | Should -Not -BeNullOrEmpty
        if ($Shown) { $drift | Format-Table | Out-String -Width 120 | Should -BeLike $Shown }
        $off = @($Expected | Where-Object { $_ -match '^(Changed|Missing|Unmatched)' -and $_ -notmatch 'optional$' })
        [bool](Test-FerruleBinding -Baseline $baseline) | Should -Be ($off.Count -eq 0)
        # The verdict that the remediation scripts read: exactly that drift is what puts the machine off.
        $verdict = Test-FerruleBinding -Baseline $baseline -Detailed -ErrorAction Stop
        "$($verdict.OnBaseline): $(@($verdict.Off | & $said) -join ', ')" | Should -Be "$($off.Count -eq 0): $($off -join ', ')"
    }

    # With the long names of a real fleet, every column of every drift kind is
    # there whole at 120 columns: a GUID in a path shrinks, Found does not.
    It 'shows a <Drift> row whole in 120 columns' -ForEach @(
        @{ Drift = 'Changed'; Shown = 'Changed False  True  vEthernet (Default Switch) ms_tcpip6->{4A1F3C7E...}' }
        @{ Drift = 'Missing'; Shown = 'Missing False  True  vEthernet (Default Switch) ms_tcpip6->{4A1F3C7E...}' }
        @{ Drift = 'Equal'; Shown = 'Equal False  True  vEthernet (Default Switch) ms_tcpip6->{4A1F3C7E...}' }
        @{ Drift = 'New'; Shown = 'New   False  True  vEthernet (Default Switch) ms_tcpip6->{4A1F3C7E...}' }
        @{ Drift = 'Unmatched'; Shown = 'Unmatched False  True  ms_tcpip6 vEthernet (Default Switch)' }
    ) {
        $path = $(if ($Drift -ne 'Unmatched') { "ms_tcpip6->$Ethernet" } else { '' })
        $row = New-Object Ferrule.BindingDrift 'PC-FIN-0231.corp.contoso.com', $Drift, 'Adapter', 'ms_tcpip6',
            'vEthernet (Default Switch)', $path, $false, $true
        $lines = @(($row | Out-String -Width 120) -split "`r?`n" | Where-Object { $_.Trim() })
        $lines[0] | Should -Match '^ComputerName +Drift +Wanted Found Component +Path$'
        $lines[2].TrimEnd() | Should -BeExactly "PC-FIN-0231.corp.contoso.com $Shown"
        $lines | ForEach-Object { $_.TrimEnd().Length | Should -BeLessOrEqual 120 }
    }

    # Adapters' paths are grouped by adapter (they have no DisplayName): no heading shows empty parentheses.
    It 'marks a side effect in a listing, grouped by machine and <Heading>' -ForEach @(
        @{ Heading = 'adapter'; Class = 'Adapter'; Paths = "ms_tcpip6->$Ethernet", "ms_tcpip->$Ethernet"; Listed = $Ethernet
            Shown = 'Hyper-V Virtual Ethernet Adapter'; Group = "Adapter: PC-FIN-0231: $Ethernet (Hyper-V Virtual Ethernet Adapter), vEthernet (Default Switch)" }
        @{ Heading = 'component'; Class = 'Protocol'; Paths = 'ms_server->ms_tcpip6', 'ms_msclient->ms_tcpip6'; Listed = 'ms_tcpip6'
            Shown = 'IPv6'; Group = 'Component: PC-FIN-0231: ms_tcpip6 (IPv6)' }
    ) {
        $name = $(if ($Class -eq 'Adapter') { 'vEthernet (Default Switch)' } else { $null })
        $both = @(foreach ($path in $Paths) {
                $one = [Ferrule.Binding]::Listed($Class, $Listed, $Shown, $path, $true, $name, $null, $null)
                $one.SideEffect = $true
                Add-Member -InputObject $one -NotePropertyName PSComputerName -NotePropertyValue 'PC-FIN-0231' -PassThru
            })
        $shown = @(($both | Out-String -Width 200) -split "`r?`n" | Where-Object { $_.Trim() })
        $shown[0] | Should -Be $Group
        @($shown | Where-Object { $_ -like '*()*' }) | Should -BeNullOrEmpty
        $shown[3..4] | Should -BeLike 'True    side effect ms_*->*'
        $shown.Count | Should -Be 5
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
}
