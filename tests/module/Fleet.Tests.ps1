# The Ferrule module across machines, over real PowerShell remoting: pwsh's
# own transport, SSH, to three hosts on this machine, each an sshd of the
# test's own on a loopback address of its own (127.0.0.2 to 127.0.0.4), with
# its own environment: its machine description (read by the stand-in build of
# ferrule, FERRULE_EXE), its folder for the exe (FERRULE_HOME) and its
# identity (FERRULE_MACHINE_ID and FERRULE_MACHINE_NAME: 127.0.0.3 and
# 127.0.0.4 share a MachineId, as clones do, under names of their own). The
# test starts and stops every sshd, and leaves no process behind.
BeforeDiscovery {
    $script:Hosts = @('127.0.0.2', '127.0.0.3', '127.0.0.4')
    . (Join-Path $PSScriptRoot 'Names.ps1')
}

BeforeAll {
    . (Join-Path $PSScriptRoot 'Names.ps1')
    $tests = Split-Path $PSScriptRoot
    $root = Split-Path $tests
    $script:ModulePath = Join-Path $root 'module/Ferrule/Ferrule.psd1'
    # Here, and for the module imported inside a host's session (SetEnv below).
    $env:FERRULE_SUITE_HOST = Join-Path $PSScriptRoot 'SuiteHost.ps1'
    Import-Module $script:ModulePath -Force
    $script:Work = Join-Path $TestDrive 'fleet'
    $script:Port = Get-Random -Minimum 20000 -Maximum 40000
    $script:Addresses = @('127.0.0.2', '127.0.0.3', '127.0.0.4')
    # The pwsh that runs this (the dotnet tool's is the dotnet host, running its dll).
    $pwsh = $env:FERRULE_PWSH
    if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
    # The dotnet tool's pwsh finds its runtime through DOTNET_ROOT.
    $dotnetRoot = $env:DOTNET_ROOT
    if (-not $dotnetRoot) { $dotnetRoot = Split-Path (Get-Item (Get-Command dotnet).Source).ResolveLinkTarget($true).FullName }
    New-Item -ItemType Directory -Force -Path $script:Work, /run/sshd | Out-Null
    ssh-keygen -q -t ed25519 -N '' -f "$script:Work/host_key" | Out-Null
    ssh-keygen -q -t ed25519 -N '' -f "$script:Work/client_key" | Out-Null
    Copy-Item "$script:Work/client_key.pub" "$script:Work/authorized_keys"

    # One host: a folder with its machine, its sshd's configuration and its
    # exe's folder; its environment names them.
    function Get-HostFolder([string]$Address) { Join-Path $script:Work $Address }
    function Get-HostMachine([string]$Address) { Join-Path (Get-HostFolder $Address) 'machine' }
    function Get-HostExe([string]$Address) { Join-Path (Get-HostFolder $Address) 'home/ferrule' }

    # Start-Host -Address A -As B -Port P -Name N: an sshd on A:P that serves
    # B's machine, under the pid file N.
    function Start-Host([string]$Address, [string]$As = $Address, [int]$Port = $script:Port, [string]$Name = 'sshd') {
        $folder = Get-HostFolder $As
        $own = $As.Split('.')[-1]
        $id = $(if ($own -eq '2') { 'machine-2' } else { 'machine-34' })
        $environment = "DOTNET_ROOT=$dotnetRoot FERRULE_HOME=$folder/home STANDIN_MACHINE=$folder/machine " +
        "STANDIN_JOURNAL=$folder/journal FERRULE_EVENT_FILE=$folder/events FERRULE_MACHINE_ID=$id FERRULE_MACHINE_NAME=host$own " +
        "FERRULE_EXE=$env:FERRULE_EXE FERRULE_SUITE_HOST=$env:FERRULE_SUITE_HOST PATH=$env:PATH"
        @(
            "ListenAddress $Address", "Port $Port", "HostKey $script:Work/host_key", "PidFile $folder/$Name.pid",
            "AuthorizedKeysFile $script:Work/authorized_keys", 'StrictModes no', 'PermitRootLogin prohibit-password',
            'PasswordAuthentication no', 'KbdInteractiveAuthentication no', 'UsePAM no',
            "Subsystem powershell $pwsh -sshs -NoLogo -NoProfile", "SetEnv $environment"
        ) | Set-Content "$folder/${Name}_config"
        /usr/sbin/sshd -f "$folder/${Name}_config" -E "$folder/$Name.log"
        for ($i = 0; $i -lt 100 -and -not (Test-Path "$folder/$Name.pid"); $i++) { Start-Sleep -Milliseconds 50 }
    }

    # A host down: its listener, and every connection it has taken.
    function Stop-Host([string]$Address, [string]$Name = 'sshd') {
        $pidFile = Join-Path (Get-HostFolder $Address) "$Name.pid"
        if (-not (Test-Path $pidFile)) { return }
        $listener = [int](Get-Content $pidFile)
        $tree = @($listener)
        for ($i = 0; $i -lt $tree.Count; $i++) {
            $tree += @(Get-ChildItem /proc -Directory -ErrorAction SilentlyContinue | Where-Object {
                    $_.Name -match '^\d+$' -and (Get-Content "$($_.FullName)/stat" -ErrorAction SilentlyContinue) -match "^\d+ \(.*\) \S (\d+) " -and
                    [int]$Matches[1] -eq $tree[$i] } | ForEach-Object { [int]$_.Name })
        }
        foreach ($one in $tree) { kill -KILL $one 2>$null }
        Remove-Item $pidFile
    }

    function New-HostSession([string]$Address, [int]$Port = $script:Port) {
        New-PSSession -HostName $Address -Port $Port -UserName root -KeyFilePath "$script:Work/client_key" `
            -Options @{ StrictHostKeyChecking = 'no'; UserKnownHostsFile = '/dev/null'; LogLevel = 'ERROR' }
    }

    # Each host's machine: the sample, with a protocol of its own.
    function Reset-HostMachine([string]$Address, [string[]]$Extra = @()) {
        $own = $Address.Split('.')[-1]
        $text = [IO.File]::ReadAllText((Join-Path $root 'standin/sample.machine')) +
        "class proto`n  component ms_host$own `"Host $own Protocol`"`n    path `"ms_server->ms_host$own`" enabled`n" +
        (($Extra | ForEach-Object { "$_`n" }) -join '')
        [IO.File]::WriteAllText((Get-HostMachine $Address), $text)
    }

    function Get-HostState([string]$Address) {
        @(Get-Content (Get-HostMachine $Address) | Where-Object { $_ -match '^\s*path ' } | ForEach-Object { $_.Trim() })
    }

    foreach ($address in $script:Addresses) {
        New-Item -ItemType Directory -Force -Path (Get-HostFolder $address) | Out-Null
        Reset-HostMachine $address
        Start-Host $address
    }
    $script:Three = @(foreach ($address in $script:Addresses) { New-HostSession $address })
}

AfterAll {
    if ($script:Three) { $script:Three | Remove-PSSession -ErrorAction SilentlyContinue }
    foreach ($address in $script:Addresses) { Stop-Host $address }
    Remove-Module Ferrule -ErrorAction SilentlyContinue
}

Describe 'Many machines over PowerShell remoting' {
    BeforeEach {
        foreach ($address in $Addresses) { Reset-HostMachine $address }
    }

    It 'lists each host''s bindings, each object with its PSComputerName, copying the exe once' {
        $trail = @(Get-FerruleBinding -Class Protocol -Session $Three -Verbose -ErrorAction Stop 4>&1 |
                Where-Object { $_ -is [Management.Automation.VerboseRecord] } | ForEach-Object { "$_" })
        @($trail | Where-Object { $_ -like '*: copying ferrule to *' }).Count | Should -Be 3
        # The folder and the exe were made with their mode, which no chmod after them gave.
        @(& stat -c '%a' (Split-Path (Get-HostExe '127.0.0.2')) (Get-HostExe '127.0.0.2')) | Should -Be @('755', '755')
        # Each run says its machine and its command line.
        @($trail | Where-Object { $_ -like '*: ferrule *' } | Sort-Object) |
            Should -Be @($Addresses | ForEach-Object { "${_}: ferrule class proto" })
        $got = @(Get-FerruleBinding -Class Protocol -Session $Three -Verbose -ErrorAction Stop 4>&1)
        @($got | Where-Object { $_ -is [Management.Automation.VerboseRecord] -and "$_" -like '*copying*' }).Count | Should -Be 0
        foreach ($address in $Addresses) {
            $own = @($got | Where-Object { $_ -isnot [Management.Automation.VerboseRecord] -and $_.PSComputerName -eq $address })
            @($own | ForEach-Object { $_.Path }) |
                Should -Be @(Get-HostState $address | Where-Object { $_ -notmatch '\{' } | ForEach-Object { ($_ -split '"')[1] })
            @($own | Where-Object ComponentID -Like 'ms_host*').ComponentID | Should -Be "ms_host$($address.Split('.')[-1])"
            # 127.0.0.3 and 127.0.0.4 share a MachineId, and are two machines by their names.
            @($own | ForEach-Object { "$($_.MachineId) $($_.MachineName)" } | Sort-Object -Unique) |
                Should -Be "$(if ($address -eq '127.0.0.2') { 'machine-2' } else { 'machine-34' }) host$($address.Split('.')[-1])"
        }
    }

    It 'replaces a changed exe on one host before it runs there' {
        Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction Stop | Out-Null
        Set-Content -Path (Get-HostExe '127.0.0.3') -Value '#!/bin/sh'
        # What an interrupted copy of the module's own left, which the next copy removes.
        New-Item -Path "$(Get-HostExe '127.0.0.3').abcd1234.xyz" | Out-Null
        $copies = @(Get-FerruleBinding -Class Protocol -Session $Three -Verbose -ErrorAction Stop 4>&1 |
                Where-Object { $_ -is [Management.Automation.VerboseRecord] -and "$_" -like '*: copying ferrule to *' })
        @($copies | ForEach-Object { "$_" }) | Should -BeLike '127.0.0.3: copying ferrule to *'
        (Get-FileHash (Get-HostExe '127.0.0.3')).Hash | Should -Be (Get-FileHash $env:FERRULE_EXE).Hash
        # The copy was moved into place: nothing of it is left beside the exe.
        @(Get-ChildItem (Split-Path (Get-HostExe '127.0.0.3')) | ForEach-Object Name) | Should -Be @('ferrule')
    }

    It 'refuses an exe altered between the copy and the run' {
        Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction Stop | Out-Null
        Remove-Item (Get-HostExe '127.0.0.2')
        # The copy lands, and is then altered before the run.
        Mock -ModuleName Ferrule Copy-ExeToSession {
            Set-Content -Path $env:FERRULE_ALTERED -Value "#!/bin/sh`necho 'ms_fake (Fake)'`necho '    ms_fake->x: 1'"
            chmod 755 $env:FERRULE_ALTERED
        }
        $env:FERRULE_ALTERED = Get-HostExe '127.0.0.2'
        $got = @(Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction SilentlyContinue -ErrorVariable failures)
        Should -Invoke -ModuleName Ferrule Copy-ExeToSession -Times 1 -Exactly
        @($got | Where-Object PSComputerName -EQ '127.0.0.2').Count | Should -Be 0
        @($got | Where-Object ComponentID -EQ 'ms_fake').Count | Should -Be 0
        @($got | Where-Object PSComputerName -EQ '127.0.0.3').Count | Should -BeGreaterThan 0
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'SecurityError'
        $failures[0].Exception.Message | Should -BeLike '127.0.0.2: *SHA-256*'
    }

    It 'runs only the exe it checked: one swapped during a change''s first apply never runs' {
        Get-FerruleBinding -Class Protocol -Session $Three[0] -ErrorAction Stop | Out-Null
        Reset-HostMachine '127.0.0.2' 'delay INetCfg.Apply 1 3000'
        $enabled = @(Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Session $Three[0] -ErrorAction Stop |
                Where-Object Enabled).Count
        $before = Get-HostState '127.0.0.2'
        $journal = Join-Path (Get-HostFolder '127.0.0.2') 'journal'
        Remove-Item $journal -ErrorAction SilentlyContinue
        $marker = Join-Path $Work 'swapped-ran'
        # Once the first run is applying, the exe is replaced by a rename over it.
        $swapper = Start-ThreadJob -ArgumentList $journal, (Get-HostExe '127.0.0.2'), $marker {
            param($journal, $exe, $marker)
            for ($i = 0; $i -lt 200; $i++) {
                if ((Test-Path $journal) -and (Get-Content $journal -Raw) -match 'delay: INetCfg\.Apply') { break }
                Start-Sleep -Milliseconds 50
            }
            Set-Content -Path "$exe.swap" -Value "#!/bin/sh`ntouch '$marker'`necho 'ms_tcpip (Swapped)'"
            chmod 755 "$exe.swap"
            mv -f "$exe.swap" $exe
        }
        Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Session $Three[0] -Confirm:$false `
            -ErrorAction SilentlyContinue -ErrorVariable failures
        $swapper | Wait-Job | Remove-Job
        Test-Path $marker | Should -BeFalse
        @(Compare-Object $before (Get-HostState '127.0.0.2') -PassThru | Where-Object SideIndicator -EQ '=>').Count | Should -Be 1
        # The start refused, and each path of the runs it ended (all but the one changed) not run.
        $refused = @($failures | Where-Object { $_.CategoryInfo.Category -eq 'SecurityError' })
        $refused.Count | Should -Be 1
        $refused[0].Exception.Message | Should -BeLike '127.0.0.2: *SHA-256*not run'
        @($failures | Where-Object { $_ -notin $refused } | ForEach-Object { ($_.FullyQualifiedErrorId -split ',')[0] }) |
            Should -Be (@('Ferrule.PathNotRun') * ($enabled - 1))
    }

    # Spoil is handed the exe's folder; Mend puts it back.
    It 'runs nothing from <What>' -ForEach @(
        @{ What = 'a folder that others can write'; Spoil = { chmod o+w $args[0] }; Mend = { chmod 755 $args[0] }
            Message = '127.0.0.3: */home can be written by others*' }
        @{ What = 'a folder that its group can write'; Spoil = { chmod g+w $args[0] }; Mend = { chmod 755 $args[0] }
            Message = '127.0.0.3: */home can be written by others (mode 775)*' }
        @{ What = 'a FERRULE_HOME owned by another user'; Spoil = { chown 65534 $args[0] }; Mend = { chown 0 $args[0] }
            Message = '127.0.0.3: */home is owned by another user*' }
        @{ What = 'a folder that holds another file'; Spoil = { New-Item "$($args[0])/libc.so.6" | Out-Null }
            Mend = { Remove-Item "$($args[0])/libc.so.6" }; Message = '127.0.0.3: */home holds libc.so.6 besides*' }
        @{ What = 'an exe that is a link'; Spoil = { Move-Item "$($args[0])/ferrule" "$($args[0])/../real"
                New-Item -ItemType SymbolicLink -Path "$($args[0])/ferrule" -Target "$($args[0])/../real" | Out-Null }
            Mend = { Move-Item -Force "$($args[0])/../real" "$($args[0])/ferrule" }
            Message = '127.0.0.3: */home/ferrule is a reparse point or a link*' }
    ) {
        Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction Stop | Out-Null
        $exeHome = Split-Path (Get-HostExe '127.0.0.3')
        $journal = Join-Path (Get-HostFolder '127.0.0.3') 'journal'
        Remove-Item $journal -ErrorAction SilentlyContinue
        & $Spoil $exeHome
        try {
            $got = @(Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction SilentlyContinue -ErrorVariable failures)
        } finally {
            & $Mend $exeHome
        }
        @($got | ForEach-Object PSComputerName | Sort-Object -Unique) | Should -Be @('127.0.0.2', '127.0.0.4')
        Test-Path $journal | Should -BeFalse
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'SecurityError'
        $failures[0].Exception.Message | Should -BeLike $Message
    }

    It 'disables the selected paths on the free hosts and gives one error for the host whose lock is held' {
        Reset-HostMachine '127.0.0.4' 'lock "Network Connections"'
        $before = @{}
        foreach ($address in $Addresses) { $before[$address] = Get-HostState $address }
        Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Session $Three -Confirm:$false `
            -ErrorAction SilentlyContinue -ErrorVariable failures
        foreach ($address in '127.0.0.2', '127.0.0.3') {
            $changed = @(Compare-Object $before[$address] (Get-HostState $address) -PassThru | Where-Object SideIndicator -EQ '=>')
            $changed | Should -Be @('path "ms_server->ms_tcpip6" disabled')
        }
        Get-HostState '127.0.0.4' | Should -Be $before['127.0.0.4']
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'ResourceBusy'
        $failures[0].Exception.Message | Should -BeLike '127.0.0.4: ferrule: lock->AcquireWriteLock() returned 1 (Another program holds*'
    }

    It 'records <Case> on the host that changed, and none on the others' -ForEach $EventCases {
        foreach ($address in $Addresses) { Reset-HostMachine $address $Extra; Remove-Item "$(Get-HostFolder $address)/events" -ErrorAction Ignore }
        $null = & $Run @{ Session = $Three[1] } 2>$null 3>$null
        $records = @(Get-Content "$(Get-HostFolder '127.0.0.3')/events" -ErrorAction Ignore | ForEach-Object { $_ | ConvertFrom-Json })
        @($records | ForEach-Object { Format-EventRecord $_ }) | Should -Be $Expected
        @($records | ForEach-Object { "$($_.Correlation) $($_.User) $($_.AskedBy) $($_.ClientAddress -like '127.*')" } | Sort-Object -Unique) |
            Should -Be @($records | Select-Object -First 1 | ForEach-Object { "$([guid]$_.Correlation) root $([Environment]::MachineName) True" })
        foreach ($address in '127.0.0.2', '127.0.0.4') { "$(Get-HostFolder $address)/events" | Should -Not -Exist }
    }

    It 'changes no file on any host with -WhatIf' {
        $before = @(foreach ($address in $Addresses) { [IO.File]::ReadAllText((Get-HostMachine $address)) })
        Get-FerruleBinding -Class Protocol -Session $Three | Disable-FerruleBinding -Session $Three -WhatIf
        Disable-FerruleBinding -Class Protocol -ComponentID * -Session $Three -WhatIf
        @(foreach ($address in $Addresses) { [IO.File]::ReadAllText((Get-HostMachine $address)) }) | Should -Be $before
    }

    It 'puts each host back from its own saved rows' {
        $saved = Join-Path $Work 'fleet.xml'
        $before = @{}
        foreach ($address in $Addresses) { $before[$address] = Get-HostState $address }
        Get-FerruleBinding -Class Protocol -Session $Three | Export-Clixml $saved
        Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Session $Three[0] -Confirm:$false
        Enable-FerruleBinding -Class Protocol -ComponentID * -Session $Three[1] -Confirm:$false
        Get-HostState '127.0.0.2' | Should -Not -Be $before['127.0.0.2']
        Get-HostState '127.0.0.3' | Should -Not -Be $before['127.0.0.3']
        Import-Clixml $saved | Set-FerruleBinding -Session $Three -Confirm:$false -ErrorAction Stop
        foreach ($address in $Addresses) { Get-HostState $address | Should -Be $before[$address] }
    }

    It 'takes back the objects that the module gives inside Invoke-Command' {
        $objects = @(Invoke-Command -Session $Three[0] -ArgumentList $ModulePath {
                param($module)
                Import-Module $module
                Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip'
            })
        $objects.Count | Should -Be 1
        $objects[0].PSObject.TypeNames[0] | Should -Be 'Deserialized.Ferrule.Binding'
        $objects[0].Enabled | Should -BeTrue
        $objects[0].PSComputerName | Should -Be '127.0.0.2'
        $objects | Disable-FerruleBinding -Session $Three -Confirm:$false -ErrorAction Stop
        Get-HostState '127.0.0.2' | Should -Contain 'path "ms_server->ms_tcpip" disabled'
        Get-HostState '127.0.0.3' | Should -Contain 'path "ms_server->ms_tcpip" enabled'
        $back = @(Invoke-Command -Session $Three[0] -ArgumentList $ModulePath, (, $objects) {
                param($module, $objects)
                Import-Module $module
                $objects | Enable-FerruleBinding -Confirm:$false -PassThru
            })
        $back.Count | Should -Be 1
        Get-HostState '127.0.0.2' | Should -Contain 'path "ms_server->ms_tcpip" enabled'
    }

    It 'gives all three hosts'' objects at once as one after another' {
        $atOnce = Measure-Command { $script:together = @(Get-FerruleBinding -Class Protocol -Session $Three) }
        $inTurn = Measure-Command { $script:apart = @(foreach ($one in $Three) { Get-FerruleBinding -Class Protocol -Session $one }) }
        Write-Host ("fleet listing of three hosts: {0:N0} ms at once, {1:N0} ms one after another ({2:N2}x)" -f
            $atOnce.TotalMilliseconds, $inTurn.TotalMilliseconds, ($inTurn.TotalMilliseconds / $atOnce.TotalMilliseconds))
        @($together | ForEach-Object { "$($_.PSComputerName) $($_.Path)" } | Sort-Object) |
            Should -Be @($apart | ForEach-Object { "$($_.PSComputerName) $($_.Path)" } | Sort-Object)
    }

    It 'runs the README''s fleet examples: IPv6 on each host''s adapter named Ethernet, a fleet put back, its drift' {
        # Each host names its adapters as Windows would: the first Ethernet, the second Wi-Fi.
        Invoke-Command -Session $Three {
            function global:Get-NetAdapter([switch]$IncludeHidden) {
                $names = 'Ethernet', 'Wi-Fi'
                $guids = @(Get-Content $env:STANDIN_MACHINE | Where-Object { $_ -match '^\s*component "?(\{[^"]*\})' } |
                        ForEach-Object { $Matches[1] })
                for ($i = 0; $i -lt $guids.Count; $i++) { [pscustomobject]@{ Name = $names[$i]; InterfaceGuid = $guids[$i] } }
            }
        }
        # On 127.0.0.3 the adapter's IPv6 path is disabled, though a path above
        # the protocol (ms_server->ms_tcpip6) is enabled.
        $ethernet = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
        $text = [IO.File]::ReadAllText((Get-HostMachine '127.0.0.3'))
        [IO.File]::WriteAllText((Get-HostMachine '127.0.0.3'), $text.Replace("path `"ms_tcpip6->$ethernet`" enabled", "path `"ms_tcpip6->$ethernet`" disabled"))
        $before = @{}
        foreach ($address in $Addresses) { $before[$address] = Get-HostState $address }
        Mock New-PSSession { $Three }
        . (Join-Path (Split-Path $PSScriptRoot) 'examples/Examples.ps1')
        $examples = @(Get-ReadmeExample)
        $fleet = @($examples | Where-Object Name -EQ 'ps-fleet')[0].Code
        $restore = @($examples | Where-Object Name -EQ 'ps-fleet-restore')[0].Code
        Push-Location $Work
        try {
            $answer = @(& ([scriptblock]::Create($fleet)) 2>&1)
            @($answer | ForEach-Object { "$($_.PSComputerName) $($_.Name) $($_.Enabled)" } | Sort-Object) |
                Should -Be @('127.0.0.2 Ethernet True', '127.0.0.3 Ethernet False', '127.0.0.4 Ethernet True')
            $output = @(& ([scriptblock]::Create($fleet + "`n" + $restore)) 2>&1)
        } finally {
            Pop-Location
        }
        @($output | Where-Object { $_ -is [Management.Automation.ErrorRecord] }) | Should -BeNullOrEmpty
        foreach ($address in $Addresses) { Get-HostState $address | Should -Be $before[$address] }
        # The drift example: IPv6 off every adapter but Wi-Fi.
        $drift = @($examples | Where-Object Name -EQ 'ps-drift')[0].Code
        $found = @(& ([scriptblock]::Create("`$s = New-PSSession -ComputerName pc01`n" + $drift)))
        @($found | ForEach-Object { "$($_.ComputerName) $($_.Name) $($_.Drift)" } | Sort-Object) |
            Should -Be @('127.0.0.2 Ethernet Changed', '127.0.0.2 Wi-Fi Changed', '127.0.0.3 Wi-Fi Changed', '127.0.0.4 Ethernet Changed',
                '127.0.0.4 Wi-Fi Changed')
        Invoke-Command -Session $Three { Remove-Item Function:\Get-NetAdapter }
    }

    It 'changes a row of a machine that no session reaches nowhere' {
        $before = @(foreach ($address in $Addresses) { Get-HostState $address })
        [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = $false; PSComputerName = 'pc01' } |
            Set-FerruleBinding -Session $Three -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures
        @(foreach ($address in $Addresses) { Get-HostState $address }) | Should -Be $before
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'ObjectNotFound'
        $failures[0].Exception.Message | Should -BeLike 'No session reaches pc01*'
    }

    # A second sshd (on another port, or another address: Listen) that serves
    # one of the hosts: sessions are told apart by what each machine says it is.
    It 'refuses <Case>' -ForEach @(
        @{ Case = 'two sessions to one computer name before anything runs'; Listen = '127.0.0.2'; Port = 1; As = '127.0.0.2'
            Run = { param($second) Get-FerruleBinding -Class Protocol -Session $Three[0], $second -ErrorAction Stop }
            Id = 'Ferrule.SessionsShareMachine,Get-FerruleBinding'; Untouched = '127.0.0.2' }
        @{ Case = 'two sessions to one machine under two names, under -WhatIf too'; Listen = '127.0.0.5'; Port = 0; As = '127.0.0.2'
            Run = { param($second) Disable-FerruleBinding -Class Protocol -ComponentID * -Session $Three[0], $second -WhatIf -ErrorAction Stop }
            Id = 'Ferrule.SessionsShareMachine,Disable-FerruleBinding'; Untouched = '127.0.0.2' }
        @{ Case = 'rows of one host through a session to another under its name'; Listen = '127.0.0.2'; Port = 1; As = '127.0.0.3'
            Run = {
                param($second)
                Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Session $Three[0] | ForEach-Object { $_.Enabled = $false; $_ } |
                    Set-FerruleBinding -Session $second -Confirm:$false -ErrorAction Stop
            }
            Id = 'Ferrule.NoSessionForMachine,Set-FerruleBinding'; Untouched = '127.0.0.3'; Message = 'No session reaches host2 (MachineId machine-2)*' }
    ) {
        Start-Host -Address $Listen -As $As -Port ($Port + $script:Port) -Name second
        $second = New-HostSession -Address $Listen -Port ($Port + $script:Port)
        try {
            $before = Get-HostState $Untouched
            Remove-Item (Join-Path (Get-HostFolder $Untouched) 'journal') -ErrorAction SilentlyContinue
            $thrown = $null
            try { & $Run $second } catch { $thrown = $_ }
            $thrown.FullyQualifiedErrorId | Should -Be $Id
            if ($Message) { $thrown.Exception.Message | Should -BeLike $Message }
            Get-HostState $Untouched | Should -Be $before
            @(Get-Content (Join-Path (Get-HostFolder $Untouched) 'journal') -ErrorAction SilentlyContinue |
                    Where-Object { $_ -match '\.Enable\(|INetCfg\.Apply' }) | Should -BeNullOrEmpty
        } finally {
            Remove-PSSession $second
            Stop-Host -Address $As -Name second
        }
    }

    It 'reaches two machines that share a MachineId under names of their own, and puts a golden baseline on every host' {
        $golden = @(Get-FerruleBinding -Class Protocol -ComponentID 'ms_tcpip*' -Session $Three[0] -ErrorAction Stop |
                Select-Object -Property * -ExcludeProperty MachineId, MachineName, PSComputerName)
        $golden.Count | Should -Be 6
        Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Session $Three -Confirm:$false -ErrorAction Stop
        Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Session $Three[1], $Three[2] -Confirm:$false -ErrorAction Stop
        $golden | Set-FerruleBinding -Session $Three -Confirm:$false -ErrorAction Stop
        $wanted = @(Get-HostState '127.0.0.2' | Where-Object { $_ -match 'ms_tcpip' -and $_ -notmatch '\{' })
        foreach ($address in $Addresses) {
            @(Get-HostState $address | Where-Object { $_ -match 'ms_tcpip' -and $_ -notmatch '\{' }) | Should -Be $wanted
        }
    }

    # Each host's adapters as Windows would give them, and on 127.0.0.2 the
    # session's address (SSH_CONNECTION's server address) on the first adapter.
    It 'guards the adapter that carries the session: <Case>' -ForEach @(
        @{ Case = 'IPv4 off it is refused'; Target = '127.0.0.2'; Path = 'ms_tcpip'; Force = $false; Changed = $false
            Refusal = '127.0.0.2: *ms_tcpip->*: not disabled: ms_tcpip on this adapter carries the session to 127.0.0.2*' }
        @{ Case = 'IPv4 off with -Force goes through'; Target = '127.0.0.2'; Path = 'ms_tcpip'; Force = $true; Changed = $true }
        @{ Case = 'IPv6 off over an IPv4 session goes through'; Target = '127.0.0.2'; Path = 'ms_tcpip6'; Force = $false; Changed = $true }
        @{ Case = 'where the adapter cannot be told, refused'; Target = '127.0.0.3'; Path = 'ms_tcpip'; Force = $false
            Changed = $false; Refusal = '127.0.0.3: *ms_tcpip->*: not disabled: which adapter carries the session to 127.0.0.3 (127.0.0.3) cannot be told*' }
        @{ Case = 'the module inside the session refuses too'; Target = '127.0.0.2'; Path = 'ms_tcpip'; Force = $false; Changed = $false
            Inside = $true; Refusal = '*ms_tcpip->*: not disabled: ms_tcpip on this adapter carries the session to * (127.0.0.2)*' }
        @{ Case = 'under -WhatIf, the refusal and no line of the module''s workings'; Target = '127.0.0.2'; Path = 'ms_tcpip'
            Force = $false; Changed = $false; WhatIf = $true
            Refusal = '127.0.0.2: *ms_tcpip->*: not disabled: ms_tcpip on this adapter carries the session to 127.0.0.2*' }
        @{ Case = 'a machine that does not answer the guard''s question is refused as one whose adapter cannot be told'
            Target = '127.0.0.2'; Path = 'ms_tcpip'; Force = $false; Changed = $false; Silent = $true
            Refusal = '127.0.0.2: *ms_tcpip->*: not disabled: which adapter carries the session * cannot be told*' }
    ) {
        $ethernet = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
        Invoke-Command -Session $Three {
            function global:Get-NetAdapter([switch]$IncludeHidden) {
                [pscustomobject]@{ Name = 'Ethernet'; InterfaceGuid = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'; InterfaceIndex = 7 }
                [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceGuid = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'; InterfaceIndex = 8 }
            }
        }
        Invoke-Command -Session $Three[0] {
            function global:Get-NetIPAddress($IPAddress) {
                if ($IPAddress -eq '127.0.0.2') { [pscustomobject]@{ IPAddress = $IPAddress; InterfaceIndex = 7 } }
            }
        }
        try {
            $session = @($Three | Where-Object ComputerName -EQ $Target)
            if ($Silent) { Invoke-Command -Session $session { function global:Get-NetTCPConnection { throw 'no answer' } } }
            $line = "path `"$Path->$ethernet`" disabled"
            $transcript = Join-Path $Work 'whatif.txt'
            if ($WhatIf) { Start-Transcript -Path $transcript -Force | Out-Null }
            if ($Inside) {
                $said = @(Invoke-Command -Session $session -ArgumentList $ModulePath, "$Path->$ethernet" {
                        param($module, $path)
                        Import-Module $module
                        Disable-FerruleBinding -Path $path -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures
                        foreach ($one in $failures) { "$($one.CategoryInfo.Category) $($one.Exception.Message)" }
                    })
                $warnings = @()
            } else {
                Disable-FerruleBinding -Path "$Path->$ethernet" -Session $session -Force:$Force -Confirm:$false -WhatIf:([bool]$WhatIf) `
                    -ErrorAction SilentlyContinue -ErrorVariable failures -WarningAction SilentlyContinue -WarningVariable warnings
                $said = @(foreach ($one in $failures) { "$($one.CategoryInfo.Category) $($one.Exception.Message)" })
            }
            if ($WhatIf) {
                Stop-Transcript | Out-Null
                @(Get-Content $transcript | Where-Object { $_ -like 'What if:*' }) | Should -BeNullOrEmpty
            }
            (Get-HostState $Target) -contains $line | Should -Be $Changed
            # A machine that does not answer says so as a ConnectionError first.
            if ($Silent) { @($said | Select-Object -First 1) | Should -BeLike 'ConnectionError 127.0.0.2: no answer' }
            if ($Refusal) {
                $said = @($said | Where-Object { $_ -notlike 'ConnectionError *' })
                $said.Count | Should -Be 1
                $said[0] | Should -BeLike "InvalidOperation $Refusal"
            } else {
                $said | Should -BeNullOrEmpty
            }
            @($warnings | ForEach-Object { "$_" }) | Should -BeLike $(if ($Warning) { $Warning } else { '' })
        } finally {
            Invoke-Command -Session $Three {
                Remove-Item Function:\Get-NetAdapter, Function:\Get-NetIPAddress, Function:\Get-NetTCPConnection -ErrorAction SilentlyContinue
            }
        }
    }

    It 'compares the fleet with a baseline: <Case>' -ForEach @(
        @{ Case = 'a rule for every adapter''s IPv6, whatever each host''s GUIDs'; Saved = $false
            Expected = @('127.0.0.2 Changed ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}',
                '127.0.0.3 Changed ms_tcpip6->{0000AAAA-8B2D-4E6A-9C5B-1D2E3F405162}',
                '127.0.0.4 Changed ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}') }
        @{ Case = 'saved rows, after a change both ways on two hosts'; Saved = $true
            Expected = @('127.0.0.2 Changed ms_server->ms_tcpip', '127.0.0.4 Changed ms_msclient->ms_tcpip6') }
        @{ Case = 'a rule that names a path on one host only'; Rule = @{ Class = 'Protocol'; ComponentID = 'ms_host3'; Enabled = $true }
            Expected = @('127.0.0.2 Unmatched ', '127.0.0.4 Unmatched ') }
        @{ Case = 'every host on the baseline'; Rule = @{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_server->ms_tcpip'; Enabled = $true }
            Expected = @() }
    ) {
        # 127.0.0.3's Ethernet adapter has another GUID.
        $text = [IO.File]::ReadAllText((Get-HostMachine '127.0.0.3'))
        [IO.File]::WriteAllText((Get-HostMachine '127.0.0.3'), $text.Replace('{4A1F3C7E-', '{0000AAAA-'))
        $baseline = @([pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false })
        if ($Rule) { $baseline = @([pscustomobject]$Rule) }
        if ($Saved) {
            $baseline = @(Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction Stop)
            Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -Path 'ms_server->ms_tcpip' -Session $Three[0] -Confirm:$false
            Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_msclient->ms_tcpip6' -Session $Three[2] -Confirm:$false
        }
        foreach ($address in $Addresses) { Remove-Item (Join-Path (Get-HostFolder $address) 'journal') -ErrorAction SilentlyContinue }
        Mock -ModuleName Ferrule Write-Progress { }
        $drift = @($baseline | Compare-FerruleBinding -Session $Three -ErrorAction Stop)
        @($drift | ForEach-Object { "$($_.ComputerName) $($_.Drift) $($_.Path)" } | Sort-Object) | Should -Be $Expected
        # Said machine by machine, and completed.
        Should -Invoke -ModuleName Ferrule Write-Progress -Times 3 -Exactly -ParameterFilter { $Status -like 'Running ferrule: * of 3' }
        Should -Invoke -ModuleName Ferrule Write-Progress -Times 1 -ParameterFilter { $Status -eq 'Running ferrule: 3 of 3' -and $PercentComplete -eq 100 }
        Should -Invoke -ModuleName Ferrule Write-Progress -Times 1 -ParameterFilter { $Completed }
        # This machine has none of the paths: only the hosts can answer $true.
        $local = Join-Path $Work 'local.machine'
        Set-Content -Path $local -Value 'class proto'
        $machine = $env:STANDIN_MACHINE
        $env:STANDIN_MACHINE = $local
        try {
            $baseline | Test-FerruleBinding -Session $Three -ErrorAction Stop | Should -Be ($Expected.Count -eq 0)
        } finally {
            $env:STANDIN_MACHINE = $machine
        }
        foreach ($address in $Addresses) {
            @(Get-Content (Join-Path (Get-HostFolder $address) 'journal') | Where-Object { $_ -match '\.Enable\(|INetCfg\.Apply' }) |
                Should -BeNullOrEmpty
        }
    }

    It 'gives an error for a host that is down, and the others'' objects' {
        Stop-Host '127.0.0.3'
        $got = @(Get-FerruleBinding -Class Protocol -Session $Three -ErrorAction SilentlyContinue -ErrorVariable failures)
        @($got | ForEach-Object PSComputerName | Sort-Object -Unique) | Should -Be @('127.0.0.2', '127.0.0.4')
        $failures.Count | Should -Be 1
        $failures[0].Exception.Message | Should -BeLike '127.0.0.3: *'
        $failures[0].CategoryInfo.Category | Should -Be 'ConnectionError'
    }
}
