# The Ferrule module's runs (Private/Run.ps1, Process.ps1, Machine.ps1, Remote.ps1, Types/), against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

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
        $run = @(& $module {
                param($path, $line)
                & $script:RunExe -Path $path -CommandLines @($line) -StopAt @() -Blocks (Get-RemoteBlock)
            } $python $commandLine)[0]
        @(($run.Lines -join "`n") | ConvertFrom-Json) | Should -BeExactly @($Word, 'after')
    }

    # The stand-in ferrule's usage line names the program as it was started.
    It 'starts the exe that it hashed through the handle it read it by, not by its path' -Skip:([bool]$env:FERRULE_WINE) {
        $hash = (Get-FileHash -Algorithm SHA256 -LiteralPath $env:FERRULE_EXE).Hash
        $run = @(& (Get-Module Ferrule) {
                param($path, $hash)
                & $script:RunExe -Path $path -CommandLines @('bogus') -StopAt @() -Hash $hash -Blocks (Get-RemoteBlock)
            } $env:FERRULE_EXE $hash)[0]
        $run.Status | Should -Be 255
        @($run.Lines)[0] | Should -Match '^usage: /proc/\d+/fd/\d+ \[class '
    }

    It 'reads the machine''s architecture, not the process''s: <Case>' -ForEach @(
        @{ Case = 'x64'; Process = 'AMD64'; Machine = ''; Build = 19045; Expected = 'AMD64 x64 False' }
        @{ Case = '32-bit PowerShell on x64'; Process = 'x86'; Machine = 'AMD64'; Build = 19045; Expected = 'AMD64 x64 False' }
        @{ Case = '32-bit Windows'; Process = 'x86'; Machine = ''; Build = 19045; Expected = 'x86 x86 False' }
        @{ Case = 'ARM64 Windows 11, which emulates x64'; Process = 'ARM64'; Machine = ''; Build = 22631; Expected = 'ARM64 x64 True' }
        @{ Case = 'ARM64 Windows 10, which emulates x86 alone'; Process = 'ARM64'; Machine = ''; Build = 19045; Expected = 'ARM64 x86 True' }
        @{ Case = '32-bit PowerShell on ARM64 Windows 11'; Process = 'x86'; Machine = 'ARM64'; Build = 22000; Expected = 'ARM64 x64 True' }
    ) {
        $saved = $env:PROCESSOR_ARCHITECTURE, $env:PROCESSOR_ARCHITEW6432
        $env:PROCESSOR_ARCHITECTURE, $env:PROCESSOR_ARCHITEW6432 = $Process, $Machine
        try {
            $got = & (Get-Module Ferrule) { param($build) & $script:MachineArchitecture -Build $build } $Build
        } finally {
            $env:PROCESSOR_ARCHITECTURE, $env:PROCESSOR_ARCHITEW6432 = $saved
        }
        "$($got.Name) $($got.Exe) $($got.Emulated)" | Should -Be $Expected
    }

    It 'warns <Warnings> time(s) in a command that runs ferrule on <Architecture>' -ForEach @(
        @{ Architecture = 'ARM64'; Warnings = 1; Run = { Get-FerruleBinding -Class Protocol } }
        @{ Architecture = 'ARM64'; Warnings = 1; Run = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Confirm:$false } }
        @{ Architecture = 'AMD64'; Warnings = 0; Run = { Get-FerruleBinding -Class Protocol } }
    ) {
        Use-Machine | Out-Null
        $saved = $env:PROCESSOR_ARCHITECTURE
        $env:PROCESSOR_ARCHITECTURE = $Architecture
        try {
            $said = @(& $Run 3>&1 | Where-Object { $_ -is [Management.Automation.WarningRecord] })
        } finally {
            $env:PROCESSOR_ARCHITECTURE = $saved
        }
        $said.Count | Should -Be $Warnings
        if ($Warnings) { "$($said[0])" | Should -BeLike "There is no ARM64 build of ferrule: on $([Environment]::MachineName) (x86), *emulation*" }
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

Describe 'What runs on another machine' {
    # The steps of Private/Remote.ps1, and the blocks that travel inside them
    # (Process.ps1's, Machine.ps1's, the seam's, the suite's hosts' blocks of
    # the seam in SuiteHost.ps1), are sent to another machine as text, where
    # nothing of the module's is.
    BeforeDiscovery {
        $folder = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Private'
        $script:Blocks = @(foreach ($file in 'Process.ps1', 'Machine.ps1', 'Remote.ps1', 'Event.ps1') {
                $ast = [System.Management.Automation.Language.Parser]::ParseFile((Join-Path $folder $file), [ref]$null, [ref]$null)
                $ast.EndBlock.Statements | Where-Object { $_ -is [System.Management.Automation.Language.AssignmentStatementAst] } |
                    ForEach-Object {
                        $left = $_.Left
                        $name = $(if ($left -is [System.Management.Automation.Language.MemberExpressionAst]) {
                                "$($left.Expression.VariablePath.UserPath).$($left.Member.Value)" } else { $left.VariablePath.UserPath })
                        @{ Name = $name; Block = $_.Right.Expression.ScriptBlock }
                    }
            })
        $suite = [System.Management.Automation.Language.Parser]::ParseFile((Join-Path $PSScriptRoot 'SuiteHost.ps1'), [ref]$null, [ref]$null)
        $table = $suite.Find({ param($node) $node -is [System.Management.Automation.Language.HashtableAst] }, $false)
        $script:Blocks += @(foreach ($pair in $table.KeyValuePairs) {
                @{ Name = "SuiteHost.$($pair.Item1.Value)"; Block = $pair.Item2.PipelineElements[0].Expression.ScriptBlock }
            })
    }

    It 'finds every block that travels, and no other, and the suite''s hosts give every block of the seam' {
        @($Blocks | ForEach-Object { $_.Name }) | Should -Be @('script:OutputCodePage', 'script:RunExe', 'script:StartExe',
            'script:HostSeam.ExeStartPath', 'script:AdapterNames', 'script:HostSeam.MachineIdentity', 'script:MachineArchitecture',
            'script:WriteCheck', 'script:HostSeam.FileOwnerCheck', 'script:HostSeam.HomeFolder', 'script:ProbeStep',
            'script:HostSeam.NewExeItem', 'script:CopyStep', 'script:RunStep', 'script:ManagementStep', 'script:HostSeam.AccountName',
            'script:HostSeam.EventSink', 'script:EventWriter', 'SuiteHost.MachineIdentity', 'SuiteHost.AccountName', 'SuiteHost.EventSink',
            'SuiteHost.ExeStartPath', 'SuiteHost.FileOwnerCheck', 'SuiteHost.HomeFolder', 'SuiteHost.NewExeItem')
        $travelling = @(& (Get-Module Ferrule) { (Get-RemoteBlock).Keys } | Where-Object { $_ -ne 'Launcher' } | Sort-Object)
        $travelling | Should -Be @('AccountName', 'AdapterNames', 'EventSink', 'ExeStartPath', 'FileOwnerCheck', 'HomeFolder',
            'MachineArchitecture', 'MachineIdentity', 'NewExeItem', 'OutputCodePage', 'RunExe', 'StartExe', 'WriteCheck')
        $seam = @(& (Get-Module Ferrule) { $script:HostSeam.Keys } | Sort-Object)
        @($Blocks | Where-Object { $_.Name -like 'SuiteHost.*' } | ForEach-Object { $_.Name.Substring(10) } | Sort-Object) | Should -Be $seam
        # The blocks in place are the suite's (FERRULE_SUITE_HOST, Suite.ps1).
        $suite = & (Join-Path $PSScriptRoot 'SuiteHost.ps1')
        foreach ($name in $seam) { & (Get-Module Ferrule) { param($name) "$($script:HostSeam[$name])" } $name | Should -Be "$($suite[$name])" }
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

Describe 'The seam for the suite''s hosts' {
    # What runs in production holds the Windows way alone: what the suite's
    # hosts do otherwise comes through the seam (HostSeam, Ferrule.psm1), put
    # in place from SuiteHost.ps1 through FERRULE_SUITE_HOST, which
    # Ferrule.psm1 alone reads. Every other FERRULE_ variable that the module
    # reads is one that its users are told of (README.md, about_Ferrule).
    # Test-Elevated (Check.ps1) answers "not elevated" off Windows for a user
    # who runs Test-Ferrule there; the suite mocks it.
    BeforeDiscovery {
        $module = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule'
        $script:Production = @(Get-ChildItem $module -Recurse -File -Include *.ps1, *.psm1, *.ps1.in |
                ForEach-Object { @{ Name = $_.FullName.Substring($module.Length + 1).Replace('\', '/'); File = $_.FullName } })
    }

    BeforeAll {
        $root = Split-Path (Split-Path $PSScriptRoot)
        $docs = [IO.File]::ReadAllText((Join-Path $root 'README.md')) +
        [IO.File]::ReadAllText((Join-Path $root 'docs/DEPLOYING.md')) +
        [IO.File]::ReadAllText((Join-Path $root 'module/Ferrule/en-US/about_Ferrule.help.txt'))
        $told = @([regex]::Matches($docs, 'FERRULE_\w+') | ForEach-Object Value | Sort-Object -Unique)
    }

    It 'holds no branch for a platform and no FERRULE_ variable of the suite''s in <Name>' -ForEach $Production {
        $text = [IO.File]::ReadAllText($File)
        $allowed = @($told) + @(if ($Name -eq 'Ferrule.psm1') { 'FERRULE_SUITE_HOST' })
        @([regex]::Matches($text, 'FERRULE_\w+') | ForEach-Object Value | Where-Object { $allowed -notcontains $_ }) | Should -BeNullOrEmpty
        if ($Name -ne 'Private/Check.ps1') {
            @([regex]::Matches($text, '\[PlatformID\]|Win32NT|OSVersion\.Platform|\$Is(Windows|Linux|MacOS)\b|RuntimeInformation|\$windows\b') |
                    ForEach-Object Value) | Should -BeNullOrEmpty
        }
    }
}

Describe 'Loading' {
    # AllSigned does not look at what Add-Type compiles: the module compiles
    # its C# only with the SHA-256 that its signed script gives. The copy holds
    # what the build installs and packs: the files of its manifest's FileList.
    # Suite: the text of the suite's host file that FERRULE_SUITE_HOST names
    # (SuiteHost.ps1's where none); a block that the seam lacks is no block
    # put in place, but an import refused.
    It 'imports <Case>' -ForEach @(
        @{ Case = 'as it was built'; Changed = $false }
        @{ Case = 'nothing when a byte of its C# has changed'; Changed = $true
            Refused = '*Types/Selection.cs is not the file that the module was built with*' }
        @{ Case = 'nothing with a suite''s host file that gives a block the seam lacks'; Changed = $false
            Suite = '@{ HomeFolder = { ''/tmp'' }; HomeFolders = { ''/tmp'' } }'
            Refused = '*suite.ps1 gives HomeFolders, which is no block of the module''s seam*' }
        @{ Case = 'nothing with a suite''s host file that gives no table of blocks'; Changed = $false; Suite = '''HomeFolder'''
            Refused = '*suite.ps1 gives no table of blocks*' }
    ) {
        $copy = Join-Path $TestDrive "module-$([guid]::NewGuid())/Ferrule"
        $source = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule'
        foreach ($name in (Import-PowerShellDataFile (Join-Path $source 'Ferrule.psd1')).FileList) {
            New-Item -ItemType Directory -Force -Path (Split-Path (Join-Path $copy $name)) | Out-Null
            Copy-Item -LiteralPath (Join-Path $source $name) -Destination (Join-Path $copy $name)
        }
        if ($Changed) {
            $file = Join-Path $copy 'Types/Selection.cs'
            $bytes = [IO.File]::ReadAllBytes($file)
            $bytes[$bytes.Length - 2] = [byte][char]' '
            [IO.File]::WriteAllBytes($file, $bytes)
        }
        $suite = $env:FERRULE_SUITE_HOST
        if ($_.ContainsKey('Suite')) {
            $suite = Join-Path (Split-Path $copy) 'suite.ps1'
            [IO.File]::WriteAllText($suite, $_.Suite)
        }
        $pwsh = $env:FERRULE_PWSH
        if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
        $said = @(& $pwsh -NoProfile -NonInteractive -Command ("`$env:FERRULE_SUITE_HOST = '$suite'; " +
                "Import-Module '$copy/Ferrule.psd1' -ErrorAction Stop; " +
                "if (Get-Module Ferrule) { 'loaded: ' + ('Ferrule.Selection' -as [type]) }") 2>&1 |
                ForEach-Object { "$_" })
        if ($_.ContainsKey('Refused')) {
            ($said -join ' ') | Should -BeLike $Refused
            ($said -join ' ') | Should -Not -BeLike '*loaded:*'
        } else {
            $said | Should -Be 'loaded: Ferrule.Selection'
        }
    }
}
