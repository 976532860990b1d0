# The module's read-only rows against the real platform, for a Windows runner
# (elevated), under Windows PowerShell 5.1 and under PowerShell 7: listings,
# -WhatIf, and the objects beside Get-NetAdapterBinding's. Nothing is changed
# but the Application log, which gets one record of the module's own.
# FERRULE_EXE may name the exe; else the module's own package is used.
BeforeDiscovery {
    $script:Classes = @('Adapter', 'Client', 'Protocol', 'Service')
}

BeforeAll {
    Import-Module (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Ferrule.psd1') -Force
    function Get-State { @(Get-FerruleBinding -ErrorAction Stop | ForEach-Object { "$($_.ComponentID) $($_.Path) $($_.Enabled)" }) }
}

Describe 'Ferrule on this Windows machine' {
    It 'lists the <_> class without an error' -ForEach $Classes {
        $class = $_
        $got = @(Get-FerruleBinding -Class $class -ErrorAction Stop)
        $got | ForEach-Object { $_.Class | Should -Be $class; $_.Enabled | Should -BeOfType [bool] }
    }

    It 'gives every adapter binding that Get-NetAdapterBinding gives, in the same state, with the adapter''s name' {
        $ours = @{}
        foreach ($one in @(Get-FerruleBinding -ErrorAction Stop)) { $ours["$($one.ComponentID)|$($one.Path)".ToUpperInvariant()] = $one }
        $adapters = @{}
        foreach ($adapter in @(Get-NetAdapter -IncludeHidden)) { $adapters[$adapter.Name] = [string]$adapter.InterfaceGuid }
        $bindings = @(Get-NetAdapterBinding -AllBindings -IncludeHidden | Where-Object { $adapters.ContainsKey($_.Name) })
        $bindings.Count | Should -BeGreaterThan 0
        foreach ($binding in $bindings) {
            $guid = $adapters[$binding.Name]
            $one = $ours["$guid|$($binding.ComponentID)->$guid".ToUpperInvariant()]
            "$($binding.Name) $($binding.ComponentID): $([bool]$one)" | Should -Be "$($binding.Name) $($binding.ComponentID): True"
            $one.Enabled | Should -Be ([bool]$binding.Enabled)
            $one.Name | Should -Be $binding.Name
        }
    }

    It 'changes nothing with -WhatIf' {
        $before = Get-State
        Get-FerruleBinding -Name '*' -Path 'ms_lltdio->*' | Disable-FerruleBinding -WhatIf
        Enable-FerruleBinding -Name '*' -Path 'ms_lltdio->*' -WhatIf
        Get-State | Should -Be $before
    }

    # A connection name may hold a line break: it adds no field.
    It 'writes an event record to the Application log under the source Ferrule: <Case>' -ForEach @(
        @{ Case = 'a path'; Name = '' }
        @{ Case = 'a name that holds a line break and a field'; Name = "Wi-Fi`r`nUser: SYSTEM" }
    ) {
        $correlation = [guid]::NewGuid().ToString()
        $binding = New-Object Ferrule.Binding 'Protocol', 'ms_none', 'None', 'ms_server->ms_none', $false, $Name
        $refused = & (Get-Module Ferrule) {
            param($Binding, $Correlation)
            & $script:EventWriter -Records @(New-ChangeEvent -Id 1002 -Binding $Binding -Before $true -After $false) `
                -Correlation $Correlation -Command 'Windows.Tests' -Asker $env:COMPUTERNAME -Blocks (Get-RemoteBlock)
        } $binding $correlation
        $refused | Should -BeNullOrEmpty
        $found = @(Get-WinEvent -FilterHashtable @{ LogName = 'Application'; ProviderName = 'Ferrule'; Id = 1002 } -MaxEvents 50 |
                Where-Object { $_.Message -like "*Correlation: $correlation*" })
        $found.Count | Should -Be 1
        $found[0].Level | Should -Be 3  # Warning
        $found[0].Message | Should -BeLike '*Path: ms_server->ms_none*Before: True*After: False*Beside: *'
        $lines = @($found[0].Message -split "`r`n")
        @($lines | Where-Object { $_ -like 'User: SYSTEM*' -or $_ -like 'Wanted:*' }) | Should -BeNullOrEmpty
        @($lines | Where-Object { $_ -like 'User: *' }).Count | Should -Be 1
    }
}
