# Test-Ferrule, the check for a real Windows machine, against ferrule on a
# machine description (the stand-in build, or ferrule.exe under Wine through
# FERRULE_EXE). Get-NetAdapter and Get-NetAdapterBinding answer from the same
# description, as the platform would, and the elevation check with each row's
# answer. Each row: the check's result, the lines it must print, the
# machine's states as they were before, and no path but the one ms_lltdio
# path changed.
BeforeDiscovery {
    $first = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
    $second = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'
    $lltdio = "ms_lltdio->$first"
    $applyFails = 'fail INetCfg.Apply * 80004005'
    # Platform: how the cmdlets' answer departs from the description (a pair
    # flipped, added or dropped, the GUIDs written otherwise). AfterAsk: lines
    # added to (+) or taken from (-) the description once the platform has
    # been asked N times. X86: none, the same exe, or one whose every
    # CoCreateInstance fails. Edit: a line of the description and its
    # replacement.
    $script:Rows = @(
        @{ Name = 'every pair agrees, the round trip passes, x86 agrees'; X86 = 'same'; Status = 0
            Lines = @("round trip on $lltdio (enabled: True):", "  ferrule comp $first path $lltdio disable: exit status 0",
                "    |     ${lltdio}: 1->0", "  ferrule comp $first path $lltdio enable: exit status 1", "    |     ${lltdio}: 0->1",
                'x86 round trip: passed',
                'Test-Ferrule: PASSED: bindings agree, round trip passed, x86 agrees, x86 round trip passed') }
        @{ Name = 'paths of other shapes under an adapter are shown, not compared'; Status = 0
            Edit = @("path `"ms_lldp->$first`" enabled", "path `"ms_lldp->$first`" enabled`n path `"ms_server->ms_tcpip->$first`" enabled`n path `"ms_tcpip->ms_pacer`" disabled")
            Lines = @("  2 of ferrule's paths are not of the form COMPONENT->{ADAPTER GUID} under their adapter",
                "    ms_server->ms_tcpip->${first}: 1", 'Test-Ferrule: PASSED') }
        @{ Name = 'one path''s state differs'; Platform = @{ Flip = $second, 'ms_tcpip6' }; Status = 1
            Lines = @("states differ$(' ' * 13) ms_tcpip6->$second",
                'Test-Ferrule: FAILED: bindings disagree, round trip passed, x86 not compared') }
        @{ Name = 'a pair that ferrule lacks'; Platform = @{ Add = $second, 'ms_bogus' }; Status = 1
            Lines = @("only the platform has it$(' ' * 2) ms_bogus->$second", 'Test-Ferrule: FAILED: bindings disagree') }
        @{ Name = 'the GUIDs are written otherwise: no pair matches, and the check says so'; Platform = @{ Bare = $true }; Status = 1
            Lines = @("only the platform has it$(' ' * 2) ms_tcpip->$($first.Trim('{}'))", "only ferrule has it$(' ' * 7) ms_tcpip->$first",
                "  none of the platform's bindings matches a path of ferrule's") }
        @{ Name = 'a pair that the platform lacks'; Platform = @{ Drop = $first, 'ms_pacer' }; Status = 1
            Lines = @("only ferrule has it$(' ' * 7) ms_pacer->$first", 'Test-Ferrule: FAILED: bindings disagree') }
        @{ Name = 'every apply fails: nothing changes, and the check says so'; Machine = @($applyFails); Status = 1
            Lines = @('    | Applying changes ... failed - error code 80004005', '  disable: exit status 1, expected 0',
                '  after the disable, the platform says Enabled=True', 'round trip: FAILED') }
        @{ Name = 'the enable''s apply fails: the path is put back'; AfterAsk = @{ 3 = "+$applyFails"; 4 = "-$applyFails" }; Status = 1
            Lines = @('  enable: printed ', '  after the enable, the platform says Enabled=False', '  put back as it was (enabled: True)',
                'Test-Ferrule: FAILED: bindings agree, round trip failed') }
        @{ Name = 'every apply fails from the enable on: the check says how to put the path back'; AfterAsk = @{ 3 = "+$applyFails" }
            Status = 1; PutBack = $false
            Lines = @("  NOT PUT BACK: the platform says Enabled=False, it was True; put it back with: ferrule comp $first path $lltdio enable",
                'round trip: FAILED') }
        @{ Name = 'the x86 exe says otherwise: reported, and the check passes'; X86 = 'broken'; Status = 0
            Lines = @('x86: differs from x64 in class dev, client, proto, service (reported only)',
                'Test-Ferrule: PASSED: bindings agree, round trip passed, x86 differs in dev, client, proto, service, x86 round trip failed') }
        @{ Name = 'not elevated: nothing runs'; Elevated = $false; Status = 2
            Lines = @("Test-Ferrule: run this from an elevated prompt (Run as administrator): ferrule needs the network configuration's write lock; nothing was run") }
    )
}

BeforeAll {
    $tests = Split-Path $PSScriptRoot
    $root = Split-Path $tests
    $env:FERRULE_SUITE_HOST = Join-Path $PSScriptRoot 'SuiteHost.ps1'
    Import-Module (Join-Path $root 'module/Ferrule/Ferrule.psd1') -Force
    $script:Sample = Join-Path $root 'standin/sample.machine'
    $script:Lltdio = 'ms_lltdio->{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
    # The cmdlets exist only on Windows: stand-ins for Pester's mocks to replace.
    function global:Get-NetAdapter { param([switch]$IncludeHidden) }
    function global:Get-NetAdapterBinding { param([switch]$AllBindings, [switch]$IncludeHidden) }

    . (Join-Path $PSScriptRoot 'Machines.ps1')

    function Get-States([string]$File) { @(Read-Machine $File | ForEach-Object { "$($_.Path) $($_.Enabled)" }) }

    # Get-NetAdapter's and Get-NetAdapterBinding's answers on the machine of
    # a description, as departed from by a row.
    function Get-Adapters([string]$File, [hashtable]$Platform) {
        $number = 0
        $seen = @{}
        foreach ($path in @(Read-Machine $File | Where-Object Class -EQ 'Adapter')) {
            if ($seen.ContainsKey($path.InterfaceGuid)) { continue }
            $seen[$path.InterfaceGuid] = $true
            $number++
            $guid = $path.InterfaceGuid
            if ($Platform.Bare) { $guid = $guid.Trim('{}') }
            $name = $(if ($number -eq 1) { 'Ethernet' } else { "Ethernet $number" })
            [pscustomobject]@{ Name = $name; InterfaceDescription = $path.InterfaceDescription; InterfaceGuid = $guid
                Bind = $path.InterfaceGuid }
        }
    }

    function Get-Bindings([string]$File, [hashtable]$Platform) {
        $paths = @(Read-Machine $File)
        $display = @{}
        foreach ($path in $paths) { if ($path.DisplayName) { $display[$path.ComponentID] = $path.DisplayName } }
        foreach ($adapter in @(Get-Adapters $File $Platform)) {
            $pairs = @($paths | Where-Object { $_.InterfaceGuid -eq $adapter.Bind -and $_.Path.EndsWith("->$($adapter.Bind)") -and
                    ($_.Path -split '->').Count -eq 2 } | ForEach-Object { , @($_.ComponentID, $_.Enabled) })
            if ($Platform.Add -and $Platform.Add[0] -eq $adapter.Bind) { $pairs += , @($Platform.Add[1], $true) }
            foreach ($pair in $pairs) {
                if ($Platform.Drop -and $Platform.Drop[0] -eq $adapter.Bind -and $Platform.Drop[1] -eq $pair[0]) { continue }
                $flip = $Platform.Flip -and $Platform.Flip[0] -eq $adapter.Bind -and $Platform.Flip[1] -eq $pair[0]
                $name = $display[$pair[0]]
                if (-not $name) { $name = $pair[0] }
                [pscustomobject]@{ Name = $adapter.Name; InterfaceDescription = $adapter.InterfaceDescription
                    ComponentID = $pair[0]; DisplayName = $name; Enabled = ($pair[1] -ne $flip) }
            }
        }
    }

    # A program that runs FERRULE_EXE on a description of its own.
    function New-Starter([string]$Path, [string]$Machine) {
        Set-Content -Path $Path -Value "#!/bin/sh`nSTANDIN_MACHINE='$Machine' exec '$env:FERRULE_EXE' `"`$@`""
        chmod 755 $Path
        $Path
    }
}

AfterAll {
    Remove-Item Function:\Get-NetAdapter, Function:\Get-NetAdapterBinding -ErrorAction SilentlyContinue
    Remove-Module Ferrule -ErrorAction SilentlyContinue
}

Describe 'Test-Ferrule' {
    It '<Name>' -ForEach $Rows {
        $row = $_
        $file = Join-Path $TestDrive "machine-$([guid]::NewGuid()).txt"
        $text = [IO.File]::ReadAllText($Sample)
        if ($row.Edit) { $text = $text.Replace($row.Edit[0], $row.Edit[1]) }
        [IO.File]::WriteAllText($file, $text + (($row.Machine | Where-Object { $_ } | ForEach-Object { "$_`n" }) -join ''))
        $env:STANDIN_MACHINE = $file
        $env:STANDIN_JOURNAL = "$file.journal"
        $before = Get-States $file
        $script:platform = $(if ($row.Platform) { $row.Platform } else { @{} })
        $script:afterAsk = $(if ($row.AfterAsk) { $row.AfterAsk } else { @{} })
        $script:asked = 0
        $script:machine = $file
        Mock -ModuleName Ferrule Test-Elevated { $row.Elevated -ne $false }
        Mock -ModuleName Ferrule Get-NetAdapter { Get-Adapters $script:machine $script:platform }
        Mock -ModuleName Ferrule Get-NetAdapterBinding {
            Get-Bindings $script:machine $script:platform
            $script:asked++
            $change = $script:afterAsk[$script:asked]
            if ($change) {
                $lines = [IO.File]::ReadAllLines($script:machine)
                if ($change[0] -eq '+') { $lines += $change.Substring(1) } else { $lines = @($lines | Where-Object { $_.Trim() -ne $change.Substring(1) }) }
                [IO.File]::WriteAllLines($script:machine, $lines)
            }
        }
        $parameters = @{ Path = (New-Starter (Join-Path $TestDrive 'ferrule') $file) }
        if ($row.X86 -eq 'same') { $parameters.X86Path = New-Starter (Join-Path $TestDrive 'x86') $file }
        if ($row.X86 -eq 'broken') {
            $x86Machine = "$file.x86"
            [IO.File]::WriteAllText($x86Machine, [IO.File]::ReadAllText($file) + "fail CoCreateInstance * 80040154`n")
            $parameters.X86Path = New-Starter (Join-Path $TestDrive 'x86') $x86Machine
        }

        $printed = @(Test-Ferrule @parameters 6>&1)
        $result = @($printed | Where-Object { $_ -isnot [Management.Automation.InformationRecord] })
        $lines = @($printed | Where-Object { $_ -is [Management.Automation.InformationRecord] } | ForEach-Object { "$_" })

        $result.Count | Should -Be 1
        $result[0].Status | Should -Be $row.Status
        $result[0].Passed | Should -Be ($row.Status -eq 0)
        foreach ($line in $row.Lines) {
            @($lines | Where-Object { $_.StartsWith($line) }).Count | Should -BeGreaterThan 0 -Because "a line begins '$line' in:`n$($lines -join "`n")"
        }
        $expected = $before
        if ($row.PutBack -eq $false) { $expected = @($before | ForEach-Object { $_ -replace "^$([regex]::Escape($Lltdio)) True$", "$Lltdio False" }) }
        Get-States $file | Should -Be $expected
        $enabled = @()
        if (Test-Path "$file.journal") {
            $enabled = @(Get-Content "$file.journal" | Where-Object { $_ -match '^INetCfgBindingPath\[(.*)\]\.Enable\(' } |
                    ForEach-Object { $Matches[1] } | Sort-Object -Unique)
        }
        @($enabled | Where-Object { $_ -ne $Lltdio }) | Should -BeNullOrEmpty
        if ($row.Elevated -eq $false) {
            Should -Invoke -ModuleName Ferrule Get-NetAdapterBinding -Times 0 -Exactly
            Test-Path "$file.journal" | Should -BeFalse
        }
    }
}
