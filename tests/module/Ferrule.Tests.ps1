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

Describe 'Types' {
    # A pwsh of its own for each case, since a session keeps the types it has
    # loaded: it imports the module as each step says (the repository's; a
    # copy whose Binding.cs is another build's, its hash with it; a copy whose
    # Binding.cs is a FIFO that gives its checked bytes once and then others,
    # a class more, to any other read), and says what the last import did.
    It 'imports <Case>' -ForEach @(
        @{ Case = 'twice, the second with -Force'; Steps = 'own', 'own'; Said = 'imported' }
        @{ Case = 'another build of its C# after its own'; Steps = 'own', 'other'; Said = 'Ferrule.OtherTypesLoaded: *new PowerShell session*' }
        @{ Case = 'after a type of its names from elsewhere'; Steps = 'own'; Said = 'Ferrule.OtherTypesLoaded: *new PowerShell session*'
            Before = 'namespace Ferrule { public static class Selection { } }' }
        @{ Case = 'the C# it checked, though the file is read again after'; Steps = 'fifo'; Said = 'imported' }
    ) {
        if ($Steps -contains 'fifo' -and [Environment]::OSVersion.Platform -ne 'Unix') { Set-ItResult -Skipped -Because 'no FIFO here' }
        $own = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule'
        $copy = Join-Path $TestDrive ([guid]::NewGuid())
        Copy-Item -Recurse $own $copy
        $binding = Join-Path $copy 'Types/Binding.cs'
        $bytes = [IO.File]::ReadAllBytes($binding)
        if ($Steps -contains 'other') {
            $checked = (Get-FileHash -LiteralPath $binding).Hash
            [IO.File]::AppendAllText($binding, "// another build`n")
            $hashes = Join-Path $copy 'Private/TypeHashes.ps1'
            [IO.File]::WriteAllText($hashes, [IO.File]::ReadAllText($hashes).Replace($checked, (Get-FileHash -LiteralPath $binding).Hash))
        }
        $paths = @(foreach ($step in $Steps) { Join-Path $(if ($step -eq 'own') { $own } else { $copy }) 'Ferrule.psd1' })
        $script = "try { $(if ($Before) { "Add-Type '$Before'; " }) " + (@($paths | ForEach-Object { "Import-Module '$_' -Force; " }) -join '') +
            "if ('Ferrule.SecondRead' -as [type]) { 'compiled a second read' } else { 'imported' } } " +
            "catch { (`$_.FullyQualifiedErrorId -split ',')[0] + ': ' + `$_.Exception.Message }"
        $pwsh = $env:FERRULE_PWSH
        if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
        $writer = $null
        try {
            if ($Steps -contains 'fifo') {
                [IO.File]::WriteAllBytes("$copy.good", $bytes)
                [IO.File]::WriteAllText("$copy.read", [IO.File]::ReadAllText("$copy.good") + "namespace Ferrule { public class SecondRead { } }`n")
                Remove-Item $binding
                mkfifo $binding
                # A FIFO ends its read only when no writer holds it: the other bytes wait until the first read is done.
                $feed = "cat '$copy.good' > '$binding'; sleep 2; while [ ! -e '$copy.stop' ]; do cat '$copy.read' > '$binding'; done"
                $writer = Start-Process sh -ArgumentList '-c', "`"$feed`"" -PassThru
            }
            $answer = & $pwsh -NoProfile -NonInteractive -Command $script 2>&1
        } finally {
            if ($writer) {
                New-Item "$copy.stop" | Out-Null
                ([IO.File]::Open($binding, 'Open', 'ReadWrite')).Dispose()
                if (-not $writer.WaitForExit(10000)) { Stop-Process -Id $writer.Id }
            }
        }
        "$answer" | Should -BeLike $Said
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
