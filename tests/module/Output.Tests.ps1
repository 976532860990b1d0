# The Ferrule module's reading of lines and its errors (Private/Output.ps1, the messages) and its tables (Ferrule.Format.ps1xml),
# against a ferrule of FERRULE_EXE: the stand-in
# build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll { . (Join-Path $PSScriptRoot 'Suite.ps1') }
AfterAll { Remove-Suite }

Describe 'Failures' {
    It '<Failure>: <Category>, and no object claims a change not made' -ForEach @(
        @{ Failure = 'the lock held'; Fault = 'fail INetCfgLock.AcquireWriteLock * 1'; Category = 'ResourceBusy'; Changed = $false
            Hint = '* returned 1 (Another program holds the network configuration''s lock*try again.)' }
        @{ Failure = 'access denied'; Fault = 'fail INetCfgLock.AcquireWriteLock * 80070005'; Category = 'PermissionDenied'; Changed = $false
            Hint = '* returned 80070005 (Access denied: run it elevated, as an administrator, or as SYSTEM.)' }
        @{ Failure = 'the lock not taken otherwise'; Fault = 'fail INetCfgLock.AcquireWriteLock * 8004a001'; Category = 'ResourceBusy'
            Changed = $false; Hint = '* returned 8004a001' }
        @{ Failure = 'Enable refused'; Fault = 'fail INetCfgBindingPath.Enable * 8004a024'; Category = 'WriteError'; Changed = $false }
        @{ Failure = 'Apply failed'; Fault = 'fail INetCfg.Apply * 80004005'; Category = 'WriteError'; Changed = $false }
        @{ Failure = 'a restart pending'; Fault = 'fail INetCfg.Apply * 4a020'; Category = $null; Changed = $true }
        @{ Failure = 'bindings unreachable'; Fault = 'fail INetCfgComponent.QueryInterface * 80004002'; Category = 'ReadError'; Changed = $false }
    ) {
        $file = Use-Machine -Extra $Fault
        $before = Get-State $file
        $warnings = $null
        $passed = @(Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->ms_tcpip6' -PassThru `
                -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures -WarningAction SilentlyContinue `
                -WarningVariable warnings)
        $changed = (Get-State $file) -contains 'ms_tcpip6 ms_server->ms_tcpip6 False'
        $changed | Should -Be $Changed
        if ($Category) {
            @($failures | ForEach-Object { [string]$_.CategoryInfo.Category }) | Should -Contain $Category
            $failures[0].Exception.Message | Should -Match 'ferrule: .*returned|failed - error code'
            if ($Hint) { $failures[0].Exception.Message | Should -BeLike $Hint }
            if ($Failure -in 'Enable refused', 'Apply failed') {
                $failures[0].Exception.Message | Should -BeLike 'ms_tcpip6: ms_server->ms_tcpip6: ferrule: *'
                $failures[0].TargetObject.Path | Should -Be 'ms_server->ms_tcpip6'
            }
            @($passed | Where-Object { -not $_.Enabled }).Count | Should -Be 0
        } else {
            $failures.Count | Should -Be 0
            $warnings.Count | Should -Be 1
            $passed.Count | Should -Be 1
            $passed[0].Enabled | Should -BeFalse
            $passed[0].RebootRequired | Should -BeTrue
        }
        if (-not $Changed) { Get-State $file | Should -Be $before }
    }

    # A forged name, and a ferrule (a script here) whose lines are not what it
    # prints: no object claims a path or a state that ferrule did not print for it.
    It 'reads only what ferrule said: <Case>' -ForEach @(
        @{ Case = 'a display name that holds a path''s line'; Machine = 'control'; Objects = @('ms_server->ms_????mix True',
                'ms_x?->ms_????mix False', 'ms_server->ms_tab?esc? True', 'ms_server->ms_csi?31m?right?left True',
                'ms_server->ms_????????x True')
            Categories = @()
            Run = { Get-FerruleBinding -Class Protocol } }
        @{ Case = 'the forged path, disabled'; Machine = 'control'; Objects = @(); Categories = @('ObjectNotFound')
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_ghost'; Path = 'ms_server->ms_ghost' } |
                    Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'a name of two lines'; Objects = @('x->b True'); Categories = @('InvalidResult', 'NotSpecified', 'NotSpecified')
            Listing = 'b (Before)', '    x->b: 1', 'a (Two-line', 'name)', '    p->a: 1'; Run = { Get-FerruleBinding -Class Protocol } }
        @{ Case = 'a state not read under no path'; Objects = @('p->a True'); Categories = @('InvalidResult', 'NotSpecified')
            Listing = 'a (A)', '    p->a: 1', 'b (B)', 'bindingPath->IsEnabled() returned 80004005', '    q->b: 1'
            Run = { Get-FerruleBinding -Class Protocol } }
        @{ Case = 'a listing''s line in a change'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 0', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'another path changed'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_other->ms_tcpip: 1->0', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'a state before that was not listed'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 0->0', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
        @{ Case = 'another state set'; Objects = @(); Categories = @('InvalidResult')
            Listing = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1'
            Change = 'ms_tcpip (IPv4)', '    ms_server->ms_tcpip: 1->1', 'Applying changes ... success'
            Run = { Get-FerruleBinding -Class Protocol | Disable-FerruleBinding -PassThru -Confirm:$false } }
    ) {
        if (-not $Machine) { $Machine = 'sample' }
        Use-Machine $Machine | Out-Null
        $exe = $env:FERRULE_EXE
        if ($Listing) {
            $fake = Join-Path $TestDrive 'fake-ferrule'
            $quoted = { param($lines) (@($lines) | ForEach-Object { "'" + $_ + "'" }) -join ' ' }
            [IO.File]::WriteAllText($fake, "#!/bin/sh`ncase `"`$*`" in`n*disable*) printf '%s\n' $(& $quoted $Change) ;;`n" +
                "*) printf '%s\n' $(& $quoted $Listing) ;;`nesac`n")
            chmod 755 $fake
            $env:FERRULE_EXE = $fake
        }
        try { $all = @(& $Run 2>&1) } finally { $env:FERRULE_EXE = $exe }
        $failures = @($all | Where-Object { $_ -is [Management.Automation.ErrorRecord] })
        @($all | Where-Object { $_ -isnot [Management.Automation.ErrorRecord] } | ForEach-Object { "$($_.Path) $($_.Enabled)" }) |
            Should -Be $Objects
        @($failures | ForEach-Object { [string]$_.CategoryInfo.Category } | Sort-Object) | Should -Be $Categories
        if ($Change) { $failures[0].Exception.Message | Should -BeLike '*not understood, and the change may have been made*' }
    }

    # What a failure leaves unknown (a path's state, a component's paths, the
    # class's components) is not reported, compared or changed, and is an
    # error where the command names it. Which call fails is counted in each
    # run: the 5th state read of a listing of protocols is ms_server->ms_tcpip6's
    # (enabled), the 3rd path fetched is ms_tcpip's third, the 2nd component ms_tcpip6.
    It 'leaves unknown what <Fault> could not read: <Case>' -ForEach @(
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 1 80004005'; Case = 'Get'; Ids = @('StateUnknown')
            Objects = @('ms_msclient->ms_tcpip6 False'); Run = { Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 1 80070005'; Case = 'Get, access denied'; Ids = @('AccessDenied')
            Objects = @('ms_msclient->ms_tcpip6 False'); Run = { Get-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 1 80004005'; Case = 'Disable of another path'; Ids = @()
            Objects = @('ms_server->ms_tcpip6 False'); Changed = @('ms_tcpip6 ms_server->ms_tcpip6 False')
            Warnings = @('ms_tcpip6: ms_server->ms_tcpip6: the change is made; its state before could not be read (ferrule: *',
                'this machine: what Windows changed beside the changes could not be checked (class *: bindingPath->IsEnabled()*')
            Run = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->ms_tcpip6' -PassThru -Confirm:$false } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 1 80004005'; Case = 'Disable of a path not there'; Ids = @('SelectorUnmatched')
            Objects = @(); Run = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_x->ms_tcpip6' -Confirm:$false } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 5 80004005'; Case = 'Test of that path'; Ids = @('StateUnknown'); Objects = @('False')
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip6'; Path = 'ms_server->ms_tcpip6'; Enabled = $false } |
                    Test-FerruleBinding } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 5 80004005'; Case = 'Test of another path'; Ids = @(); Objects = @('True')
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_netbt'; Path = 'ms_server->ms_netbt'; Enabled = $true } |
                    Test-FerruleBinding } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 5 80004005'; Case = 'Compare with a rule'; Ids = @('StateUnknown')
            Objects = @('Changed ms_msclient->ms_tcpip6')
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip6'; Enabled = $true } | Compare-FerruleBinding } }
        @{ Fault = 'fail INetCfgBindingPath.IsEnabled 5 80004005'; Case = 'Set'; Ids = @('StateUnknown'); Objects = @()
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip6'; Path = 'ms_server->ms_tcpip6'; Enabled = $false } |
                    Set-FerruleBinding -PassThru -Confirm:$false } }
        @{ Fault = 'fail IEnumNetCfgBindingPath.Next 7 80004005'; Case = 'Get'; Ids = @('PathsNotListed')
            Objects = @('ms_netbt->ms_tcpip True', 'ms_netbt_smb->ms_tcpip True', 'ms_server->ms_tcpip True', 'ms_msclient->ms_tcpip True',
                'ms_server->ms_netbt True', 'ms_msclient->ms_netbt True')
            Run = { Get-FerruleBinding -Class Protocol } }
        @{ Fault = 'fail IEnumNetCfgBindingPath.Next 1 80004005'; Case = 'Disable, the change''s own listing'; Ids = @('PathsNotListed')
            Objects = @(); Warnings = @('this machine: what Windows changed beside the changes could not be checked (class *: paths->Next()*')
            Run = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_server->*' -PassThru -Confirm:$false } }
        @{ Fault = 'fail IEnumNetCfgBindingPath.Next 3 80004005'; Case = 'Disable'; Ids = @('PathsNotListed'); Objects = @()
            Run = { Disable-FerruleBinding -Class Protocol -ComponentID ms_tcpip -PassThru -Confirm:$false } }
        @{ Fault = 'fail IEnumNetCfgBindingPath.Next 3 80004005'; Case = 'Compare with a saved row'; Ids = @('PathsNotListed'); Objects = @()
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Path = 'ms_msclient->ms_tcpip'; Enabled = $true } |
                    Compare-FerruleBinding } }
        @{ Fault = 'fail IEnumNetCfgComponent.Next 2 80004005'; Case = 'Get'; Ids = @('ComponentsNotListed'); Objects = @()
            Run = { Get-FerruleBinding -Class Protocol } }
        @{ Fault = 'fail IEnumNetCfgComponent.Next 2 80004005'; Case = 'Compare with a rule'; Ids = @('ComponentsNotListed'); Objects = @()
            Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip6'; Enabled = $false } | Compare-FerruleBinding } }
        @{ Fault = 'fail IEnumNetCfgComponent.Next 2 80004005'; Case = 'Enable'; Ids = @('ComponentsNotListed'); Objects = @()
            Run = { Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -PassThru -Confirm:$false } }
    ) {
        $file = Use-Machine -Extra $Fault
        $before = Get-State $file
        $all = @(& $Run 2>&1 3>&1)
        $failures = @($all | Where-Object { $_ -is [Management.Automation.ErrorRecord] })
        $said = @($all | Where-Object { $_ -is [Management.Automation.WarningRecord] } | ForEach-Object Message)
        $Warnings = @($Warnings | Where-Object { $_ })
        $said.Count | Should -Be $Warnings.Count
        for ($i = 0; $i -lt $said.Count; $i++) { $said[$i] | Should -BeLike $Warnings[$i] }
        @($all | Where-Object { $_ -isnot [Management.Automation.ErrorRecord] -and $_ -isnot [Management.Automation.WarningRecord] } |
            ForEach-Object {
                if ($_ -is [bool]) { "$_" } elseif ($_.PSObject.Properties['Drift']) { "$($_.Drift) $($_.Path)" } else { "$($_.Path) $($_.Enabled)" }
            }) | Should -Be $Objects
        @($failures | ForEach-Object { ($_.FullyQualifiedErrorId -split ',')[0] }) | Should -Be @($Ids | ForEach-Object { "Ferrule.$_" })
        @($failures | Where-Object { "$($_.CategoryInfo.Category)" -ne 'ObjectNotFound' -and
                $_.Exception.Message -notlike '*ferrule: *returned 800*reported, compared or changed.)' }) | Should -BeNullOrEmpty
        @(Compare-Object $before (Get-State $file) | Where-Object SideIndicator -EQ '=>' | ForEach-Object InputObject) |
            Should -Be @($Changed | Where-Object { $_ })
    }

    # The write lock held: one error, never an empty answer (and Test says $false).
    It 'gives no empty answer when the listing cannot be made: <Command>' -ForEach @(
        @{ Command = 'Get'; Run = { Get-FerruleBinding -Class Protocol }; Message = 'ferrule: lock->AcquireWriteLock() returned 1 (Another program*' }
        @{ Command = 'Compare'; Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Enabled = $true } |
                    Compare-FerruleBinding }; Message = '*lock->AcquireWriteLock() returned 1*'
        }
        @{ Command = 'Test'; Run = { [pscustomobject]@{ Class = 'Protocol'; ComponentID = 'ms_tcpip'; Enabled = $true } |
                    Test-FerruleBinding }; Message = '*lock->AcquireWriteLock() returned 1*'; Answer = $false
        }
    ) {
        Use-Machine -Extra 'fail INetCfgLock.AcquireWriteLock * 1' | Out-Null
        $all = @(& $Run 2>&1)
        $failures = @($all | Where-Object { $_ -is [Management.Automation.ErrorRecord] })
        @($all | Where-Object { $_ -isnot [Management.Automation.ErrorRecord] }) | Should -Be @($Answer | Where-Object { $null -ne $_ })
        $failures.Count | Should -Be 1
        $failures[0].Exception.Message | Should -BeLike $Message
        if ($Command -eq 'Get') { "$($failures[0].CategoryInfo.Category)" | Should -Be 'ResourceBusy' }
    }

    # ferrule.exe refuses, with its usage line, an argument that the ANSI code
    # page would have turned into another (the stand-in takes the bytes as given).
    It 'passes on a refused argument as InvalidArgument' -Skip:(-not $env:FERRULE_TEST_CODE_PAGE) {
        $file = Use-Machine
        $got = @(Get-FerruleBinding -Class Protocol -ComponentID "ms_tcpip$([char]0xFF16)" -ErrorAction SilentlyContinue -ErrorVariable failures)
        $got.Count | Should -Be 0
        $failures.Count | Should -Be 1
        $failures[0].CategoryInfo.Category | Should -Be 'InvalidArgument'
        $failures[0].Exception.Message | Should -Match 'refused its arguments: usage: '
        Test-Path "$file.journal" | Should -BeFalse
    }

    It 'stops the pipeline when ferrule is stopped' {
        $file = Use-Machine -Extra 'delay INetCfg.Apply 1 3000'
        $marker = [IO.Path]::GetFileName($file)
        # Once the apply has begun, the ferrule of this machine alone is asked to stop.
        $stopper = Start-ThreadJob -ArgumentList "$file.journal", $marker {
            param($journal, $marker)
            for ($i = 0; $i -lt 200; $i++) {
                if ((Test-Path $journal) -and (Get-Content $journal -Raw) -match 'delay: INetCfg\.Apply') { break }
                Start-Sleep -Milliseconds 50
            }
            foreach ($id in @(pgrep -x 'ferrule(\.exe)?')) {
                $environment = Get-Content "/proc/$id/environ" -Raw -ErrorAction SilentlyContinue
                if ($environment -and $environment.Contains($marker)) { kill -INT $id }
            }
        }
        $paths = @(Get-FerruleBinding -Class Protocol -ErrorAction Stop | Where-Object Enabled).Count
        $env:FERRULE_EVENT_FILE = "$file.events"
        try {
            { Disable-FerruleBinding -Class Protocol -ComponentID * -Confirm:$false -ErrorAction SilentlyContinue } |
                Should -Throw -ErrorId 'Ferrule.Stopped,Disable-FerruleBinding'
        } finally {
            $env:FERRULE_EVENT_FILE = $null
        }
        $stopper | Wait-Job | Remove-Job
        # The component in hand was finished, and no other was begun: its record
        # says it may have been made, and each of the others' that it was not.
        @(Get-Calls $file '^INetCfg\.Apply\(').Count | Should -Be 1
        @(Get-Content "$file.events" -ErrorAction Ignore | ForEach-Object { $record = $_ | ConvertFrom-Json
                "$($record.EventId) $($record.Outcome)" }) | Should -Be (@('1001 Unknown') + @('1001 Failed') * ($paths - 1))
    }
}

Describe 'One table per concept' {
    BeforeDiscovery {
        $table = Join-Path (Split-Path $PSScriptRoot) 'unit/faults.table'
        $script:FailureLines = @(Get-Content $table | Where-Object { $_ -match '^\w' } | ForEach-Object { ($_ -split '\s+', 2)[1] } |
                Where-Object { $_ -ne '-' } | ForEach-Object { @{ Line = $_.Replace('%x', '80004005').Replace('%d', '0') } })
    }

    It 'gives "<Line>" a category of its own' -ForEach $FailureLines {
        $category = & (Get-Module Ferrule) {
            param($line)
            $failed = Split-FailureLine -Line $line
            if ($failed) { (Get-FailureCategory -Call $failed.Call -Code $failed.Code).Category }
        } $Line
        $category | Should -BeIn @([Enum]::GetNames([System.Management.Automation.ErrorCategory]))
    }

    It 'offers the classes of its table on <_>' -ForEach @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding') {
        $set = (Get-Command $_).Parameters['Class'].Attributes | Where-Object { $_ -is [System.Management.Automation.ValidateSetAttribute] }
        @($set.ValidValues) | Should -Be @(& (Get-Module Ferrule) { $script:ClassWords.Keys })
    }
}

Describe 'Views' {
    # The long machine's names at 120 columns: each row keeps its state or
    # its drift kind whole, no column is wider than its widest value and one
    # space, and the path, wrapped, is all there.
    It 'fits <View> of long names in 120 columns' -ForEach @(
        @{ View = 'a listing'; Key = 'Enabled'; Run = { Get-FerruleBinding -Class Service } }
        @{ View = 'a drift'; Key = 'Drift'; Run = {
                $saved = @(Get-FerruleBinding -Class Service | ForEach-Object { $one = $_.Clone(); $one.Enabled = -not $one.Enabled; $one })
                $rule = [pscustomobject]@{ Class = 'Service'; ComponentID = "$($saved[0].ComponentID)_gone*"; Enabled = $true }
                @($saved) + $rule | Compare-FerruleBinding } }
    ) {
        Use-Machine long -Extra '    path "ms_server->ms_a_service_whose_bind_name_is_far_longer_than_sixty_four_characters_x" disabled' |
            Out-Null
        $objects = @(& $Run)
        $lines = @(($objects | Out-String -Width 120) -split "`r?`n" | ForEach-Object { $_.TrimEnd() })
        @($lines | Where-Object { $_.Length -gt 120 }) | Should -BeNullOrEmpty
        $head = @(for ($i = 1; $i -lt $lines.Count; $i++) { if ($lines[$i] -match '^-+( +-+)*$') { $i - 1 } })[0]
        $labels = @([regex]::Matches($lines[$head], '\S+'))
        @($labels | ForEach-Object Value) | Should -Contain $Key
        $place = @($labels | ForEach-Object Value).IndexOf($Key)
        $body = @($lines[($head + 2)..($lines.Count - 1)] | Where-Object { $_ } | ForEach-Object { $_.PadRight(120) })
        $rows = @(for ($i = 0; $i -lt $body.Count; $i++) { if ($body[$i].Substring(0, $labels[1].Index).Trim()) { $i } })
        $rows.Count | Should -Be $objects.Count
        for ($r = 0; $r -lt $rows.Count; $r++) {
            $body[$rows[$r]].Substring($labels[$place].Index, $labels[$place + 1].Index - $labels[$place].Index).Trim() |
                Should -BeExactly "$($objects[$r].$Key)"
            $last = @($body[$rows[$r]..(@($rows + $body.Count)[$r + 1] - 1)] | ForEach-Object { $_.Substring($labels[-1].Index).Trim() })
            $last -join '' | Should -BeExactly "$($objects[$r].Path)"
        }
        for ($c = 0; $c -lt $labels.Count - 1; $c++) {
            $width = $labels[$c + 1].Index - $labels[$c].Index - 1
            $widest = @(@($body | ForEach-Object { $_.Substring($labels[$c].Index, $width).TrimEnd().Length }) + $labels[$c].Length |
                    Measure-Object -Maximum).Maximum
            "$($labels[$c].Value): $width" | Should -Be "$($labels[$c].Value): $([Math]::Min($width, $widest + 1))"
        }
    }
}

Describe 'Messages' {
    # The keys that the module's code names: -Id constants of New-ErrorRecord
    # and Get-Message, -Stage constants of Invoke-FanOut, Id = '...' in hashtables (the reasons of the remote
    # blocks, and of the suite's hosts' blocks of the seam, SuiteHost.ps1, whose refusals the module says as it
    # says its own), and the IDs that the row reader (Types/Row.cs) refuses a row with.
    BeforeAll {
        $folder = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule'
        $script:Used = @{}
        $script:ErrorIds = @{}
        foreach ($file in @(Get-ChildItem $folder -Recurse -Include *.ps1, *.psm1) + @(Get-Item (Join-Path $PSScriptRoot 'SuiteHost.ps1'))) {
            $ast = [System.Management.Automation.Language.Parser]::ParseFile($file.FullName, [ref]$null, [ref]$null)
            foreach ($command in $ast.FindAll({ param($n) $n -is [System.Management.Automation.Language.CommandAst] }, $true)) {
                $name = $command.GetCommandName()
                if ('New-ErrorRecord', 'Get-Message', 'Invoke-FanOut' -notcontains $name) { continue }
                $key = $(if ($name -eq 'Invoke-FanOut') { 'Stage' } else { 'Id' })
                $elements = $command.CommandElements
                for ($i = 1; $i -lt $elements.Count - 1; $i++) {
                    if ($elements[$i] -is [System.Management.Automation.Language.CommandParameterAst] -and $elements[$i].ParameterName -eq $key -and
                        $elements[$i + 1] -is [System.Management.Automation.Language.StringConstantExpressionAst]) {
                        $script:Used[$elements[$i + 1].Value] = $true
                        if ($name -eq 'New-ErrorRecord') { $script:ErrorIds[$elements[$i + 1].Value] = $true }
                    }
                }
            }
            foreach ($literal in $ast.FindAll({ param($n) $n -is [System.Management.Automation.Language.HashtableAst] }, $true)) {
                foreach ($pair in $literal.KeyValuePairs) {
                    if ("$($pair.Item1)" -eq 'Id' -and "$($pair.Item2)" -match "^'(\w+)'$") { $script:ErrorIds[$Matches[1]] = $true }
                }
            }
        }
        foreach ($file in Get-ChildItem (Join-Path $folder 'Types') -Filter *.cs) {
            foreach ($found in [regex]::Matches([IO.File]::ReadAllText($file.FullName), '(?:Refuse\(row, |Problem = )"(\w+)"')) { $script:ErrorIds[$found.Groups[1].Value] = $true }
        }
        $module = Get-Module Ferrule
        $script:FailureIds = @(& $module { @($script:FailureCategories | ForEach-Object { $_.Id }) + @($script:FailureIds.Values) } |
                Sort-Object -Unique)
        foreach ($id in @($script:ErrorIds.Keys)) { if ($script:FailureIds -notcontains $id) { $script:Used[$id] = $true } }
        $script:MessageTable = & $module { $script:Messages }
    }

    It 'has every message the module names, and names every message it has' {
        @($Used.Keys | Where-Object { -not $MessageTable.ContainsKey($_) }) | Should -BeNullOrEmpty
        @($MessageTable.Keys | Where-Object { -not $Used.ContainsKey($_) }) | Should -BeNullOrEmpty
        $Used.Count | Should -BeGreaterThan 40
    }

    It 'lists every error ID in about_Ferrule' {
        $about = Get-Help about_Ferrule | Out-String
        @(@($ErrorIds.Keys) + $FailureIds | Sort-Object -Unique | Where-Object { $about -notmatch "\bFerrule\.$_\b" }) |
            Should -BeNullOrEmpty
    }

    # Windows PowerShell 5.1 falls back to en-US only when the module says so.
    It 'speaks en-US under a UI culture without messages of its own' {
        $pwsh = $env:FERRULE_PWSH
        if (-not $pwsh) { $pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
        $manifest = Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Ferrule.psd1'
        $said = & $pwsh -NoProfile -NonInteractive -Command ("[Threading.Thread]::CurrentThread.CurrentUICulture = 'de-DE'; " +
            "Import-Module '$manifest'; & (Get-Module Ferrule) { Get-Message -Id BaselineEmpty }") 2>&1
        "$said" | Should -Be 'The baseline has no rows: there is nothing to compare.'
    }
}
