# The Ferrule module's changes (Private/Change.ps1, ChangeRun.ps1, SideEffect.ps1), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

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
        @(Get-State $file | Select-String '^ms_tcpip6 \S+->ms_tcpip6 ') | ForEach-Object { $_.Line | Should -Match 'True$' }
        @(Get-Calls $file '\.Enable\(1\)').Count | Should -Be 1
    }
}

Describe 'What Windows changes beside' {
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
        # Two listings of each class at most: the selection's (one before for the others), the change, and one
        # after of each class that had a path (clients and services have none here).
        @(Get-Calls $file '^INetCfg\.QueryNetCfgClass\(').Count | Should -Be (1 + 3 + 1 + 2)
    }

    # The listing of a class (Word) fails the Fail-th time (for clients the
    # first is before the change; for adapters the first is before it and
    # the second after it), or the event records cannot be written: the
    # change stands, and one warning says what was not done.
    It 'says in one warning that <What>, and the change stands' -ForEach @(
        @{ What = 'what Windows changed beside could not be checked: the listing before fails'; Fail = 1; Word = 'client'
            Warning = 'this machine: what Windows changed beside the changes could not be checked (class Client: *' }
        @{ What = 'what Windows changed beside could not be checked: the listing after fails'; Fail = 2; Word = 'dev'
            Warning = 'this machine: what Windows changed beside the changes could not be checked (class Adapter: *' }
        @{ What = 'the event records could not be written'; Fail = 0; Word = 'client'
            Warning = 'this machine: the changes stand, but their event records were not written (*' }
    ) {
        $file = Use-Machine
        $exe = $env:FERRULE_EXE
        $fake = Join-Path $TestDrive "failing-ferrule-$Fail"
        [IO.File]::WriteAllText($fake, "#!/bin/sh`nif [ `"`$*`" = 'class $Word' ]; then`n  echo x >> '$fake.count'`n" +
            "  if [ `$(wc -l < '$fake.count') -eq $Fail ]; then echo 'lock->AcquireWriteLock() returned 1'; exit 0; fi`nfi`n" +
            "exec '$exe' `"`$@`"`n")
        chmod 755 $fake
        $env:FERRULE_EXE = $fake
        # A folder is no file to append to.
        if ($Fail -eq 0) { $env:FERRULE_EVENT_FILE = $TestDrive }
        try {
            Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Confirm:$false -ErrorAction Stop `
                -WarningAction SilentlyContinue -WarningVariable warnings
        } finally {
            $env:FERRULE_EXE = $exe
            $env:FERRULE_EVENT_FILE = $null
        }
        @($warnings | ForEach-Object { "$_" }) | Should -BeLike $Warning
        Get-State $file | Should -Contain 'ms_tcpip ms_server->ms_tcpip False'
    }
}

Describe 'Event records' {
    # Off Windows each record is a line of JSON in FERRULE_EVENT_FILE.
    It 'records <Case>, one record a path, under one GUID' -ForEach $EventCases {
        $null = Use-Machine -Extra $Extra
        if ($Adapters) { Set-AdapterStub -Names $Adapters }
        $env:FERRULE_EVENT_FILE = Join-Path $TestDrive "events-$([guid]::NewGuid())"
        if ($Refuse) {
            $env:FERRULE_EVENT_REFUSE = "$env:FERRULE_EVENT_FILE.refuse"
            Set-Content -LiteralPath $env:FERRULE_EVENT_REFUSE -Value ''
        }
        try {
            $warnings = @(& $Run @{} 2>$null 3>&1 | Where-Object { $_ -is [Management.Automation.WarningRecord] })
        } finally {
            $file = $env:FERRULE_EVENT_FILE
            $env:FERRULE_EVENT_FILE = $null
            $env:FERRULE_EVENT_REFUSE = $null
        }
        @($warnings | Where-Object { "$_" -like '*event records were not written*' }) | Should -BeNullOrEmpty
        $records = @(Get-Content -LiteralPath $file -ErrorAction Ignore | ForEach-Object { $_ | ConvertFrom-Json })
        @($records | ForEach-Object { Format-EventRecord $_ }) | Should -Be $Expected
        # No value makes a line of its own: one line a field, and no Wanted beside what nobody asked for.
        foreach ($record in $records) {
            @($record.Text -split "`r`n").Count | Should -Be @($record.PSObject.Properties | Where-Object Name -NE Text).Count
            [bool]$record.PSObject.Properties['Wanted'] | Should -Be ($record.EventId -ne 1002)
        }
        @($records | ForEach-Object { "$($_.Correlation) $($_.User) $($_.AskedBy) $($_.ClientAddress)" } | Sort-Object -Unique) |
            Should -Be @($records | Select-Object -First 1 | ForEach-Object {
                    "$([guid]$_.Correlation) $([Environment]::UserName) $([Environment]::MachineName) " })
        $records | Where-Object EventId -EQ 1001 | Where-Object Output -NotLike '*Applying changes ... failed - error code 80004005' |
            Should -BeNullOrEmpty
    }
}

Describe 'Outcomes' {
    # A ferrule that does what Shell says to each change run (its arguments
    # end in disable): every confirmed path ends made or failed, with one
    # record, its object only where it was made, and an error where it failed.
    It 'ends each path confirmed with one record: <Case>' -ForEach @(
        @{ Case = 'applied, then the configuration not closed'; Paths = 'ms_server->ms_tcpip'; Errors = @()
            Shell = '"$exe" "$@"; status=$?; echo ''netCfg->Uninitialize() returned 80004005''; exit $status'
            Expected = @('1000 Made ms_server->ms_tcpip True'); Made = @('ms_server->ms_tcpip') }
        @{ Case = 'the exe gone after the first change'; Paths = 'ms_server->ms_tcpip', 'ms_msclient->ms_tcpip'
            Shell = '"$exe" "$@"; status=$?; rm -f "$0"; exit $status'; Errors = @('Ferrule.ExeNotStarted')
            Expected = @('1000 Made ms_server->ms_tcpip True', '1001 Failed ms_msclient->ms_tcpip True')
            Made = @('ms_server->ms_tcpip') }
    ) {
        $file = Use-Machine
        $exe = $env:FERRULE_EXE
        $fake = Join-Path $TestDrive "ferrule-$([guid]::NewGuid())"
        [IO.File]::WriteAllText($fake, "#!/bin/sh`nexe='$exe'`ncase `"`$*`" in *disable) $Shell;; esac`nexec `"`$exe`" `"`$@`"`n")
        chmod 755 $fake
        $env:FERRULE_EXE = $fake
        $env:FERRULE_EVENT_FILE = "$file.events"
        try {
            $passed = @(Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path $Paths -PassThru -Confirm:$false `
                    -ErrorAction SilentlyContinue -ErrorVariable failures -WarningAction SilentlyContinue)
        } finally {
            $env:FERRULE_EXE = $exe
            $env:FERRULE_EVENT_FILE = $null
        }
        @($passed | ForEach-Object Path) | Should -Be $Made
        @($failures | ForEach-Object { ($_.FullyQualifiedErrorId -split ',')[0] }) | Should -Be $Errors
        @(Get-Content "$file.events" | ForEach-Object { $record = $_ | ConvertFrom-Json
                "$($record.EventId) $($record.Outcome) $($record.Path) $($record.Before)" }) | Should -Be $Expected
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
        # Refused before it is found already in its state: the other is not.
        @{ Case = 'a disabled path beside an enabled look-alike'; Pick = 0
            Extra = 'class service', 'component ms_look "Look"', 'path "ms_a?->x" disabled', 'path "ms_a\x01->x" enabled' }
        @{ Case = 'a bind name that holds " ("'; Pick = 0
            Extra = 'class service', 'component "ms_b (x" "Y"', 'path "q" enabled', 'component ms_b "x (Y"', 'path "q" enabled' }
    ) {
        $file = Use-Machine -Extra $Extra
        $before = Get-State $file
        $two = @(Get-FerruleBinding -Class Service -ComponentID 'ms_*' -ErrorAction Stop)
        $two.Count | Should -Be 2
        $passed = @($two[$Pick] | Disable-FerruleBinding -PassThru -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures)
        $passed | Should -BeNullOrEmpty
        @($failures | ForEach-Object { [string]$_.CategoryInfo.Category }) | Should -Be @('InvalidResult')
        Get-State $file | Should -Be $before
        Get-Calls $file '\.Enable\(' | Should -BeNullOrEmpty
    }

    # ferrule is given the adapter (comp), named here by its bind name as rows saved before name it; the same
    # path under two adapters is two paths to ferrule too.
    It 'changes the one adapter path of <Case>' -ForEach @(
        @{ Case = 'an adapter of the sample'; Adapter = $Ethernet; Path = "ms_tcpip6->$Ethernet"; Extra = @() }
        @{ Case = 'two adapters that list the same path'; Adapter = '{B}'; Path = 'ms_q->x'
            Extra = 'class dev', 'component "{A}" "A"', 'path "ms_q->x" enabled', 'component "{B}" "B"', 'path "ms_q->x" enabled' }
    ) {
        $file = Use-Machine -Extra $Extra
        $passed = @(Disable-FerruleBinding -ComponentID $Adapter -Path $Path -PassThru -Confirm:$false -ErrorAction Stop)
        $component = ($Path -split '->')[0]
        @($passed | ForEach-Object { "$($_.ComponentID) $($_.InterfaceGuid) $($_.Path) $($_.Enabled)" }) | Should -Be "$component $Adapter $Path False"
        @(Get-Calls $file '\.Enable\(') | Should -HaveCount 1
        (Get-Content -Raw $file) | Should -BeLike "*component `"$Adapter`" *path `"$Path`" disabled*"
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
