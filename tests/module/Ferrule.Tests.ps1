# The Ferrule module's whole: its help, and what Windows PowerShell 5.1 reads, against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

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
