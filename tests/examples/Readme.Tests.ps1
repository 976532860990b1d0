# Every PowerShell example of the README and docs/DEPLOYING.md that runs
# ferrule or the module, run under pwsh against the stand-in build
# (FERRULE_EXE), each on a sample machine of its own, with a stub
# Get-NetAdapter for the connection names.
# The fleet's examples run over remoting in tests/module/Fleet.Tests.ps1, and
# the cmd ones under Wine's cmd (cmd_examples_test.py).
BeforeDiscovery {
    . (Join-Path $PSScriptRoot 'Examples.ps1')
    $script:Examples = @(Get-DocumentExample)
    # Every example that a test runs: here, in tests/module/Fleet.Tests.ps1, or by cmd_examples_test.py.
    $script:Known = @('ps-quick-start', 'ps-file-sharing', 'ps-exe-quoting', 'ps-save-restore', 'ps-fleet', 'ps-fleet-restore', 'ps-drift',
        'cmd-quick-start', 'cmd-ipv6-bound', 'ps-remediation')
    $script:Run = @(
        @{ Name = 'ps-quick-start'; Changed = @('path "ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}" disabled') }
        @{ Name = 'ps-file-sharing'; Changed = @('path "ms_server->{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}" disabled') }
        @{ Name = 'ps-exe-quoting'; Changed = @('path "ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}" disabled')
            Printed = '    ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}: 1->0' }
        @{ Name = 'ps-save-restore'; Changed = @() }
        # The scripts it writes are the ones that examples/ holds.
        @{ Name = 'ps-remediation'; Changed = @(); Made = @('ipv6-off/drift-detection.ps1', 'ipv6-off/drift-remediation.ps1') }
    )
}

BeforeAll {
    . (Join-Path $PSScriptRoot 'Examples.ps1')
    $root = Split-Path (Split-Path $PSScriptRoot)
    $env:PSModulePath = (Join-Path $root 'module') + [IO.Path]::PathSeparator + $env:PSModulePath
    # The suite's host blocks, for the module here and in every pwsh started from here.
    $env:FERRULE_SUITE_HOST = Join-Path $root 'tests/module/SuiteHost.ps1'
    $script:Sample = Join-Path $root 'standin/sample.machine'
    function global:Get-NetAdapter {
        param([string[]]$Name = '*', [switch]$IncludeHidden)
        @([pscustomobject]@{ Name = 'Ethernet 2'; InterfaceGuid = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}' }
            [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceGuid = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}' }) |
            Where-Object { $adapter = $_; @($Name | Where-Object { $adapter.Name -like $_ }).Count -gt 0 }
    }
    function Get-PathLines([string]$File) { @(Get-Content $File | Where-Object { $_ -match '^\s*path ' } | ForEach-Object { $_.Trim() }) }
}

AfterAll {
    Remove-Item Function:\Get-NetAdapter -ErrorAction SilentlyContinue
    Remove-Module Ferrule -ErrorAction SilentlyContinue
}

Describe 'The README''s and docs/DEPLOYING.md''s examples' {
    It 'names every block of cmd or PowerShell, so that none goes untested unseen' {
        @($Examples | Where-Object { $_.Language -in 'bat', 'powershell' -and -not $_.Name } |
                ForEach-Object { "$($_.Document): $($_.Code)" }) | Should -BeNullOrEmpty
    }

    It 'has the example <Name> once' -ForEach @($Known | ForEach-Object { @{ Name = $_ } }) {
        @($Examples | Where-Object Name -EQ $Name).Count | Should -Be 1
    }

    It 'names no example that no test runs' -ForEach @(@{ Known = $Known }) {
        @($Examples | Where-Object { $_.Name -and ($Known + 'exempt') -notcontains $_.Name } | ForEach-Object Name) |
            Should -BeNullOrEmpty
    }

    It 'runs <Name>' -ForEach $Run {
        $example = @(Get-DocumentExample | Where-Object Name -EQ $Name)[0]
        $folder = Join-Path $TestDrive $Name
        New-Item -ItemType Directory -Path $folder | Out-Null
        $machine = Join-Path $folder 'machine'
        Copy-Item $Sample $machine
        $env:STANDIN_MACHINE = $machine
        # ferrule.exe, as the examples call it, is the stand-in build here.
        New-Item -ItemType SymbolicLink -Path (Join-Path $folder 'ferrule.exe') -Target $env:FERRULE_EXE | Out-Null
        $before = Get-PathLines $machine
        Push-Location $folder
        $confirm = $global:ConfirmPreference
        $global:ConfirmPreference = 'None'
        try {
            $output = @(& ([scriptblock]::Create($example.Code)) 2>&1 | ForEach-Object { $_ })
        } finally {
            $global:ConfirmPreference = $confirm
            Pop-Location
        }
        @($output | Where-Object { $_ -is [Management.Automation.ErrorRecord] } | ForEach-Object { "$_" }) | Should -BeNullOrEmpty
        @(Compare-Object $before (Get-PathLines $machine) -PassThru | Where-Object SideIndicator -EQ '=>') | Should -Be $Changed
        if ($_.ContainsKey('Printed')) { @($output | ForEach-Object { "$_" }) | Should -Contain $Printed }
        if ($_.ContainsKey('Made')) {
            foreach ($file in $Made) {
                # Byte for byte: reading them as text would pass a byte order mark.
                $written = Join-Path $folder $file
                $same = (Test-Path -LiteralPath $written) -and
                    (Get-FileHash $written).Hash -eq (Get-FileHash (Join-Path $root "examples/$(Split-Path -Leaf $file)")).Hash
                "${file}: $same" | Should -Be "${file}: True"
            }
        }
    }
}

# The README is what an admin reads first, and is held to its length: what
# goes beyond it goes to docs/. Words are counted as wc -w counts them.
Describe 'The documents' {
    It '<Document> has at most <Most> words' -ForEach @(
        @{ Document = 'README.md'; Most = 3000 }
    ) {
        @(-split [IO.File]::ReadAllText((Join-Path $root $Document))).Count | Should -BeLessOrEqual $Most
    }
}

# The drift scripts, run as Intune runs them (pwsh here, powershell.exe on the
# Windows runner), on the stand-in: the exit status, exactly one line on
# standard output, and nothing on standard error when they succeed.
Describe 'The drift scripts' {
    BeforeAll {
        $script:Pwsh = $env:FERRULE_PWSH
        if (-not $script:Pwsh) { $script:Pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
        $script:Scripts = Join-Path $root 'examples'
        $script:ExampleRule = "[pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = `$false }"
        # Connection names for a script's own process, as Windows' NetAdapter module gives them: found by the
        # module's search for Get-NetAdapter on the module path.
        $script:NetAdapterModule = Join-Path $TestDrive 'netadapter'
        New-Item -ItemType Directory -Path (Join-Path $NetAdapterModule 'NetAdapter') | Out-Null
        Set-Content -Path (Join-Path $NetAdapterModule 'NetAdapter/NetAdapter.psm1') -Value (
            'function Get-NetAdapter { [CmdletBinding()] param([switch]$IncludeHidden) ' +
            "[pscustomobject]@{ Name = 'Ethernet 2'; InterfaceGuid = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}' }; " +
            "[pscustomobject]@{ Name = 'Wi-Fi'; InterfaceGuid = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}' } }")
        Import-Module Ferrule -Force
        function New-TestCertificate {
            $rsa = [Security.Cryptography.RSA]::Create(2048)
            $request = [Security.Cryptography.X509Certificates.CertificateRequest]::new('CN=ferrule test', $rsa, 'SHA256',
                [Security.Cryptography.RSASignaturePadding]::Pkcs1)
            $request.CreateSelfSigned([DateTimeOffset]::Now, [DateTimeOffset]::Now.AddDays(1))
        }
    }

    It 'ships New-FerruleRemediation''s Intune scripts for the examples'' baseline' {
        $rule = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
        $made = @(New-FerruleRemediation -Baseline $rule -Path (Join-Path $TestDrive 'intune') -For Intune)
        @($made | ForEach-Object Name) | Should -Be @('drift-detection.ps1', 'drift-remediation.ps1')
        foreach ($one in $made) {
            # Byte for byte: reading them as text would pass a byte order mark.
            $same = (Get-FileHash $one.FullName).Hash -eq (Get-FileHash (Join-Path $Scripts $one.Name)).Hash
            "$($one.Name): $same" | Should -Be "$($one.Name): True"
        }
    }

    It 'writes nothing from a template that is not the one the module was built with: <_>' -ForEach @(
        'Remediation.ps1.in', 'Prelude.ps1.in') {
        $name = $_
        $copy = Join-Path $TestDrive "changed-$name/Ferrule"
        New-Item -ItemType Directory -Force -Path (Split-Path $copy) | Out-Null
        Copy-Item -Recurse (Join-Path $root 'module/Ferrule') $copy
        $template = Join-Path $copy "Templates/$name"
        [IO.File]::AppendAllText($template, "Invoke-WebRequest https://example.invalid/`n")
        $out = Join-Path $TestDrive "changed-out-$name"
        $said = @(& $Pwsh -NoProfile -NonInteractive -Command ("Import-Module '$copy/Ferrule.psd1'; " +
                "New-FerruleRemediation -Baseline ([pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; " +
                "Enabled = `$true }) -Path '$out' -For Intune") 2>&1 | ForEach-Object { "$_" })
        $said -join ' ' | Should -BeLike "*$name is not the template that the module was built with*"
        Test-Path $out | Should -BeFalse
    }

    # Each value comes back as written, through the file's line endings made CR LF, and none runs as code.
    It 'writes <Case> as data' -ForEach @(
        @{ Case = 'quotes, $ and backticks'; Value = "it's `$(Get-Date) ``n ""x""" }
        @{ Case = 'typographic quotes around a subexpression'
            Value = "a$([char]0x2019) + `$(Set-Content `$env:FERRULE_PWNED x) + $([char]0x2019)b" }
        @{ Case = 'a line feed and a carriage return'; Value = "two`nlines`r`nthree" }
        @{ Case = 'text beyond ASCII'; Value = "Pr$([char]0xFC)fung $([char]0x78BA)" }
        @{ Case = 'the template''s own line'; Value = 'x $configurationManager = $falsey' }
        @{ Case = 'a lone surrogate beside a pair'; Value = "a$([char]0xD800)b$([char]0xD83D)$([char]0xDE00)c$([char]0xDE00)" }
    ) {
        $env:FERRULE_PWNED = Join-Path $TestDrive 'pwned'
        # A rule (its path has a wildcard), as Optional is for rules alone.
        $rule = [pscustomobject]@{ Class = 'Protocol'; ComponentID = $Value; Path = "ms_server->$Value*"; Enabled = $true; Optional = $true }
        $made = @(New-FerruleRemediation -Baseline $rule -Path (Join-Path $TestDrive ([guid]::NewGuid())) -For ConfigurationManager)
        # ASCII alone, as Windows PowerShell 5.1 reads a file without a byte order mark alike in every code page.
        @([IO.File]::ReadAllBytes($made[0].FullName) | Where-Object { $_ -gt 0x7F }) | Should -BeNullOrEmpty
        $text = [IO.File]::ReadAllText($made[0].FullName).Replace("`n", "`r`n")
        # One line a row, whatever its values hold.
        @([regex]::Match($text, '(?s)\$baseline = @\(\r\n(.*?)\r\n\)').Groups[1].Value -split "`r`n").Count | Should -Be 1
        $block = [regex]::Match($text, '(?s)# baseline begins.*# baseline ends').Value
        $read = Join-Path $TestDrive 'read.ps1'
        # Read back as UTF-16 code units, which no JSON or console encoder turns into U+FFFD.
        $codes = '$baseline | ForEach-Object { "$($_.Class) $($_.Enabled) $($_.Optional)"; ' +
            '@($_.ComponentID, $_.Path | ForEach-Object { [int[]]$_.ToCharArray() -join '' '' }) }'
        [IO.File]::WriteAllText($read, "$block`r`n$codes`r`n", (New-Object Text.UTF8Encoding $false))
        $expected = @('Protocol True True') + @($Value, "ms_server->$Value*" | ForEach-Object { [int[]]$_.ToCharArray() -join ' ' })
        @(& $Pwsh -NoProfile -NonInteractive -File $read) | Should -Be $expected
        Test-Path $env:FERRULE_PWNED | Should -BeFalse
    }

    # Signing stands in for Set-AuthenticodeSignature, which only Windows has (the Windows workflow signs a pair
    # for real): its signature block is what is written, and a signing that fails or does not verify writes nothing.
    It 'signs both scripts: <Case>' -ForEach @(
        @{ Case = 'a signature that verifies'; Status = 'Valid'; Calls = 2; Error = $null }
        @{ Case = 'one that does not verify here'; Status = 'UnknownError'; Calls = 1; Error = '*CN=ferrule test*UnknownError: not trusted*' }
        @{ Case = 'a signing that fails'; Status = $null; Calls = 1; Error = '*CN=ferrule test*not suitable for code signing*' }
    ) {
        $certificate = New-TestCertificate
        $signature = "# SIG # Begin signature block`r`n# MIIF$Status`r`n# SIG # End signature block`r`n"
        Mock -ModuleName Ferrule Set-ScriptSignature -ParameterFilter { $Certificate.Subject -eq 'CN=ferrule test' } {
            if (-not $Status) { throw 'Cannot sign code. The specified certificate is not suitable for code signing.' }
            [IO.File]::AppendAllText($File, $signature)
            [pscustomobject]@{ Status = $Status; StatusMessage = 'not trusted' }
        }
        $folder = Join-Path $TestDrive ([guid]::NewGuid())
        $rule = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
        $failures = @()
        try {
            $made = @(New-FerruleRemediation -Baseline $rule -Path $folder -For Intune -Certificate $certificate -ErrorAction Stop)
        } catch {
            $failures = @($_)
        }
        Should -Invoke -ModuleName Ferrule Set-ScriptSignature -Times $Calls -Exactly -Scope It
        if ($Error) {
            @($failures | ForEach-Object { $_.FullyQualifiedErrorId }) | Should -Be 'Ferrule.ScriptNotSigned,New-FerruleRemediation'
            "$failures" | Should -BeLike $Error
            Test-Path $folder | Should -BeFalse
            return
        }
        @($made | ForEach-Object Name) | Should -Be @('drift-detection.ps1', 'drift-remediation.ps1')
        foreach ($one in $made) {
            $unsigned = [IO.File]::ReadAllText((Join-Path $Scripts $one.Name))
            [IO.File]::ReadAllText($one.FullName) | Should -BeExactly ($unsigned + $signature)
        }
    }

    # Intune takes a script of less than 200 KB: its size as it would be written, signature and all, is what counts.
    It 'writes nothing of 200 KB or more for Intune: <Case>' -ForEach @(
        @{ Case = 'signed to a byte under 200 KB'; Signed = 204799; For = 'Intune'; Errors = @() }
        @{ Case = 'signed to 200 KB'; Signed = 204800; For = 'Intune'; Errors = @(
                '*drift-detection.ps1 would be 204,800 bytes with its signature, and Intune takes less than 204,800 bytes*Rules*',
                '*drift-remediation.ps1 would be 204,800 bytes with its signature*') }
        @{ Case = '200 KB, for Configuration Manager'; Signed = 204800; For = 'ConfigurationManager'; Errors = @() }
        @{ Case = '1,400 saved rows'; Rows = 1400; For = 'Intune'
            Errors = @('*drift-detection.ps1 would be 2??,??? bytes, and Intune*', '*drift-remediation.ps1 would be*') }
    ) {
        $baseline = @([pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false })
        if ($Rows) {
            $baseline = @(for ($i = 0; $i -lt $Rows; $i++) {
                    $guid = '{{{0:X8}-8B2D-4E6A-9C5B-1D2E3F405162}}' -f $i
                    [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Path = "ms_tcpip6->$guid"; Name = "Ethernet $i"
                        Enabled = $false }
                })
        }
        $signing = @{}
        if ($Signed) {
            $signing.Certificate = New-TestCertificate
            # A signature block that makes each script exactly that long.
            Mock -ModuleName Ferrule Set-ScriptSignature {
                [IO.File]::AppendAllText($File, '#' * ($Signed - (Get-Item -LiteralPath $File).Length))
                [pscustomobject]@{ Status = 'Valid'; StatusMessage = '' }
            }
        }
        $folder = Join-Path $TestDrive ([guid]::NewGuid())
        $made = @(New-FerruleRemediation @signing -Baseline $baseline -Path $folder -For $For -ErrorAction SilentlyContinue `
                -ErrorVariable failures)
        @($failures | ForEach-Object { $_.FullyQualifiedErrorId } | Select-Object -Unique) |
            Should -Be @($Errors | ForEach-Object { 'Ferrule.ScriptTooLarge,New-FerruleRemediation' } | Select-Object -Unique)
        for ($i = 0; $i -lt $Errors.Count; $i++) { "$($failures[$i])" | Should -BeLike $Errors[$i] }
        if ($Errors) {
            Test-Path $folder | Should -BeFalse
            return
        }
        @($made | ForEach-Object { $_.Length }) | Should -Be @($Signed, $Signed)
    }

    # A row is written as the reader reads it, and a saved path as itself, not as a rule.
    It 'writes <Case>' -ForEach @(
        @{ Case = 'a row''s InterfaceAlias as its Name'; Line = "    [pscustomobject]@{Class='Adapter';ComponentID='ms_tcpip6';Name='Wi-Fi';Enabled=`$false}"
            Row = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; InterfaceAlias = 'Wi-Fi'; Enabled = $false } }
        @{ Case = 'a saved path that holds ? as the module''s own'
            Line = "    [pscustomobject]@{PSTypeName='Ferrule.Binding';Class='Service';ComponentID='ms_q';Path='ms_a?->x';Enabled=`$true}"
            Row = [pscustomobject]@{ PSTypeName = 'Deserialized.Ferrule.Binding'; Class = 'Service'; ComponentID = 'ms_q'; Path = 'ms_a?->x'
                Enabled = $true; MachineId = 'machine-1'; MachineName = 'PC01' } }
        @{ Case = 'nothing for a row with a misspelt property'; Line = $null; Refused = 'RowPropertyUnknown'
            Row = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Nmae = 'Wi-Fi'; Enabled = $false } }
        @{ Case = 'a saved row of one machine''s adapter, with a warning that shows the rule for any machine'
            Line = "    [pscustomobject]@{Class='Adapter';ComponentID='ms_tcpip6';Path='ms_tcpip6->{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}';Name='Wi-Fi';Enabled=`$false}"
            Row = [pscustomobject]@{ PSTypeName = 'Ferrule.Binding'; Class = 'Adapter'; ComponentID = 'ms_tcpip6'
                Path = 'ms_tcpip6->{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'; Name = 'Wi-Fi'; Enabled = $false; MachineId = 'machine-1' }
            Warning = '*by their GUIDs*: ms_tcpip6->{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4} (Wi-Fi).*fit any device: @{ Class = ''Adapter''; ComponentID = ''ms_tcpip6''; Name = ''Wi-Fi''; Enabled = $false }.' }
        @{ Case = 'nothing for a saved row with Optional, which is for rules'; Line = $null; Refused = 'RowOptionalSaved'
            Row = [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_vpn'; Path = 'ms_server->ms_vpn'; Enabled = $true; Optional = $true }
            Said = '*Optional, which is for rules*@{ Class = ''Protocol''; ComponentID = ''ms_vpn''; Path = ''ms_server->*''; Enabled = $true; Optional = $true }.' }
    ) {
        $folder = Join-Path $TestDrive ([guid]::NewGuid())
        $writing = @{ Baseline = $Row; Path = $folder; For = 'Intune'; ErrorAction = 'SilentlyContinue'; ErrorVariable = 'failures'
            WarningAction = 'SilentlyContinue'; WarningVariable = 'warnings' }
        New-FerruleRemediation @writing | Out-Null
        @($warnings | ForEach-Object { "$_" }) -join ' | ' | Should -BeLike $(if ($Warning) { $Warning } else { '' })
        if ($null -eq $Line) {
            @($failures | ForEach-Object { $_.FullyQualifiedErrorId }) | Should -Be "Ferrule.$Refused,New-FerruleRemediation"
            if ($Said) { "$failures" | Should -BeLike $Said }
            Test-Path $folder | Should -BeFalse
            return
        }
        $text = [IO.File]::ReadAllText((Join-Path $folder 'drift-remediation.ps1'))
        [regex]::Match($text, '(?s)# baseline begins\n\$baseline = @\(\n(.*?)\n\)').Groups[1].Value | Should -BeExactly $Line
    }

    # Where Intune enforces signature checks, a Bypass would import the module without them.
    It 'relaunches <_> in 64-bit PowerShell under its own process''s policy, never Bypass' -ForEach @(
        'drift-detection', 'drift-remediation') {
        $text = [IO.File]::ReadAllText((Join-Path $Scripts "$_.ps1"))
        $text | Should -Not -Match 'Bypass'
        $text | Should -Match '\$own = \[string\]\(Get-ExecutionPolicy -Scope Process\)'
    }

    It '<Case>' -ForEach @(
        @{ Case = 'a compliant machine: detection 0'; Edit = @{ 'ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}" enabled' = 'ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}" disabled' }
            Runs = @(@{ Script = 'drift-detection'; Status = 0; Line = 'ferrule: on the baseline: 2 paths, 1 rows' }) }
        @{ Case = 'a drifted machine: detection 1'; Runs = @(@{ Script = 'drift-detection'; Status = 1
                    Line = 'ferrule: 1 off the baseline: Changed ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162} (wanted False, found True)' }) }
        @{ Case = 'remediated, then compliant: 0 and 0'; Runs = @(@{ Script = 'drift-remediation'; Status = 0
                    Line = 'ferrule: put back 1 paths (ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162} now False), now on the baseline: 2 paths, 1 rows' }
                @{ Script = 'drift-detection'; Status = 0; Line = 'ferrule: on the baseline: 2 paths, 1 rows' }
                @{ Script = 'drift-remediation'; Status = 0; Line = 'ferrule: on the baseline: 2 paths, 1 rows' }) }
        @{ Case = 'the module missing: each says where it looked'; NoModule = $true
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: could not tell: the Ferrule module is in none of these folders: *' }
                @{ Script = 'drift-remediation'; Status = 1; Line = 'ferrule: not put back: the Ferrule module is in none of these folders: *' }) }
        @{ Case = 'the exe missing: the reason first'; Exe = '/nonexistent/ferrule'
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: could not tell: ferrule is not at /nonexistent/ferrule' }) }
        @{ Case = 'a typo in the baseline: detection 1'
            Baseline = "[pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpipv6'; Name = '*'; Enabled = `$false }"
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: 1 off the baseline: Unmatched Adapter ms_tcpipv6 * (names no path)' }) }
        @{ Case = 'a saved row whose path is not there: detection 1'
            Baseline = "[pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_gone'; Path = 'ms_server->ms_gone'; Enabled = `$true }"
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: 1 off the baseline: Missing ms_server->ms_gone (wanted True, found )' }) }
        @{ Case = 'Configuration Manager, compliant: Compliant, 0'; For = 'ConfigurationManager'
            Edit = @{ 'ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}" enabled' = 'ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}" disabled' }
            Runs = @(@{ Script = 'drift-discovery'; Status = 0; Line = 'Compliant' }) }
        @{ Case = 'Configuration Manager, drifted: the drift, 0; remediated: Compliant'; For = 'ConfigurationManager'
            Runs = @(@{ Script = 'drift-discovery'; Status = 0; Line = 'ferrule: 1 off the baseline: Changed ms_tcpip6->{4A1F3C7E-*} (wanted False, found True)' }
                @{ Script = 'drift-remediation'; Status = 0; Line = 'ferrule: put back 1 paths (*), now on the baseline: 2 paths, 1 rows' }
                @{ Script = 'drift-discovery'; Status = 0; Line = 'Compliant' }) }
        @{ Case = 'Configuration Manager, the module missing: discovery fails'; For = 'ConfigurationManager'; NoModule = $true
            Runs = @(@{ Script = 'drift-discovery'; Status = 1; Line = 'ferrule: could not tell: the Ferrule module is in none*' }) }
        @{ Case = 'Configuration Manager, the lock held: remediation ends with an error'; For = 'ConfigurationManager'
            Extra = 'lock "Network Connections"'
            Runs = @(@{ Script = 'drift-remediation'; Status = 1; Error = '*ferrule: not put back: lock->AcquireWriteLock() returned 1 (*' }) }
        @{ Case = 'the lock held: each fails, and says why alike'; Extra = 'lock "Network Connections"'
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: could not tell: lock->AcquireWriteLock() returned 1 (Another program holds the network configuration''s lock, such as a Network Connections window or an installer: close it, or try again.)' }
                @{ Script = 'drift-remediation'; Status = 1; Line = 'ferrule: not put back: lock->AcquireWriteLock() returned 1 (Another program holds the network configuration''s lock, such as a Network Connections window or an installer: close it, or try again.)' }) }
        @{ Case = 'access denied: each fails, and says why alike'; Extra = 'fail INetCfgLock.AcquireWriteLock * 80070005'
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: could not tell: lock->AcquireWriteLock() returned 80070005 (Access denied: run it elevated, as an administrator, or as SYSTEM.)' }
                @{ Script = 'drift-remediation'; Status = 1; Line = 'ferrule: not put back: lock->AcquireWriteLock() returned 80070005 (Access denied: run it elevated, as an administrator, or as SYSTEM.)' }) }
        @{ Case = 'a change refused: the adapter named by its connection name, its GUID after'; Names = $true
            Extra = 'fail INetCfgBindingPath.Enable * 8004a024'
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: 1 off the baseline: Changed Ethernet 2 ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162} (wanted False, found True)' }
                @{ Script = 'drift-remediation'; Status = 1; Line = 'ferrule: not put back: Ethernet 2 ({4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}): ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}: bindingPath->Enable(0) returned 8004a024' }) }
        @{ Case = 'a rule still Unmatched: remediation 2, what it put back said first'
            Baseline = "[pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = `$false }; [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpipv6'; Name = '*'; Enabled = `$false }"
            Runs = @(@{ Script = 'drift-remediation'; Status = 2; Line = 'ferrule: put back 1 paths (ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162} now False); still off the baseline: Unmatched Adapter ms_tcpipv6 * (names no path); *' }
                @{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: 1 off the baseline: Unmatched Adapter ms_tcpipv6 * (names no path)' }) }
        @{ Case = 'only an optional rule, which names nothing here: on the baseline, 0 and 0'
            Baseline = "[pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'VPN*'; Enabled = `$false; Optional = `$true }"
            Runs = @(@{ Script = 'drift-detection'; Status = 0; Line = 'ferrule: on the baseline: 0 paths; 1 optional rule names nothing here' }
                @{ Script = 'drift-remediation'; Status = 0; Line = 'ferrule: on the baseline: 0 paths; 1 optional rule names nothing here' }
                @{ Script = 'drift-detection'; Status = 0; Line = 'ferrule: on the baseline: 0 paths; 1 optional rule names nothing here' }) }
        @{ Case = 'only an optional rule, which names paths off the baseline: 1, put back, then 0'
            Baseline = "[pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = `$false; Optional = `$true }"
            Runs = @(@{ Script = 'drift-detection'; Status = 1; Line = 'ferrule: 1 off the baseline: Changed ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162} (wanted False, found True)' }
                @{ Script = 'drift-remediation'; Status = 0; Line = 'ferrule: put back 1 paths (ms_tcpip6->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162} now False), now on the baseline: 2 paths, 1 rows' }
                @{ Script = 'drift-detection'; Status = 0; Line = 'ferrule: on the baseline: 2 paths, 1 rows' }) }
        @{ Case = 'Configuration Manager, only an optional rule, which names nothing here: Compliant'; For = 'ConfigurationManager'
            Baseline = "[pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = 'VPN*'; Enabled = `$false; Optional = `$true }"
            Runs = @(@{ Script = 'drift-discovery'; Status = 0; Line = 'Compliant' }
                @{ Script = 'drift-remediation'; Status = 0; Line = 'ferrule: on the baseline: 0 paths; 1 optional rule names nothing here' }) }
    ) {
        $machine = Join-Path $TestDrive "$([guid]::NewGuid()).machine"
        $text = [IO.File]::ReadAllText($Sample)
        if ($Edit) { foreach ($key in $Edit.Keys) { $text = $text.Replace($key, $Edit[$key]) } }
        if ($Extra) { $text += "$Extra`n" }
        [IO.File]::WriteAllText($machine, $text)
        $env:STANDIN_MACHINE = $machine
        $folder = $Scripts
        if ($For) {
            # Made from the examples' baseline, one IPv6 rule.
            $folder = Join-Path $TestDrive ([guid]::NewGuid())
            $rule = [pscustomobject]@{ Class = 'Adapter'; ComponentID = 'ms_tcpip6'; Name = '*'; Enabled = $false }
            New-FerruleRemediation -Baseline $rule -Path $folder -For $For | Out-Null
        }
        foreach ($run in $Runs) {
            $errors = Join-Path $TestDrive 'stderr.txt'
            $script = Join-Path $folder "$($run.Script).ps1"
            if ($Baseline) {
                # The same script, its rows between the baseline's markers replaced.
                $text = [regex]::Replace([IO.File]::ReadAllText($script), '(?s)(\$baseline = @\(\r?\n).*?(\r?\n\)\r?\n# baseline ends)',
                    { param($m) $m.Groups[1].Value + "    $Baseline" + $m.Groups[2].Value })
                $script = Join-Path $TestDrive "$($run.Script).ps1"
                [IO.File]::WriteAllText($script, $text)
            }
            $saved = $env:PSModulePath, $env:FERRULE_EXE
            if ($NoModule) { $env:PSModulePath = ($env:PSModulePath -split [IO.Path]::PathSeparator | Where-Object { $_ -ne (Join-Path $root 'module') }) -join [IO.Path]::PathSeparator }
            if ($Names) { $env:PSModulePath = $NetAdapterModule + [IO.Path]::PathSeparator + $env:PSModulePath }
            if ($Exe) { $env:FERRULE_EXE = $Exe }
            try {
                $lines = @(& $Pwsh -NoProfile -NonInteractive -File $script 2> $errors)
            } finally {
                $env:PSModulePath, $env:FERRULE_EXE = $saved
            }
            $status = $LASTEXITCODE
            "$($run.Script): $status" | Should -Be "$($run.Script): $($run.Status)"
            # Detection and Test-FerruleBinding give one verdict, wherever the module could be run.
            if ($run.Script -ne 'drift-remediation' -and -not $NoModule -and -not $Exe) {
                $rows = @(& ([scriptblock]::Create("@($(if ($Baseline) { $Baseline } else { $ExampleRule }))")))
                $on = $(if ($For -eq 'ConfigurationManager') { $status -eq 0 -and "$lines" -eq 'Compliant' } else { $status -eq 0 })
                "Test-FerruleBinding: $(Test-FerruleBinding -Baseline $rows -ErrorAction SilentlyContinue)" |
                    Should -Be "Test-FerruleBinding: $on"
            }
            if ($run.Error) {
                Get-Content -Raw $errors | Should -BeLike $run.Error
                continue
            }
            $lines.Count | Should -Be 1
            $lines[0] | Should -BeLike $run.Line
            if ($run.Status -eq 0) { Get-Content -Raw $errors | Should -BeNullOrEmpty }
        }
    }
}
