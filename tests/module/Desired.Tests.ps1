# The module's desired state (Private/Desired.ps1): the DSC command resource Ferrule/BindingList run as DSC runs it
# (its manifest's executable and arguments, pwsh for powershell, the manifest's folder as the working directory, the
# instance as JSON on stdin), and the class resource FerruleBindingList in a pwsh of its own, against a ferrule of
# FERRULE_EXE: the stand-in build, or ferrule.exe under Wine through wine_ferrule.sh (Suite.ps1).
BeforeDiscovery { . (Join-Path $PSScriptRoot 'Names.ps1') }
BeforeAll {
    . (Join-Path $PSScriptRoot 'Suite.ps1')
    $script:ModuleFolder = Join-Path $root 'module/Ferrule'
    $script:ManifestPath = Join-Path $ModuleFolder 'DSC/ferrule.dsc.resource.json'
    $script:ManifestText = [IO.File]::ReadAllText($ManifestPath)
    $script:Manifest = ConvertFrom-Json -InputObject $ManifestText
    $script:SchemaText = ConvertTo-Json -InputObject $Manifest.schema.embedded -Depth 20
    $script:Pwsh = $env:FERRULE_PWSH
    if (-not $Pwsh) { $script:Pwsh = (Get-Command pwsh -CommandType Application | Select-Object -First 1).Source }
    # The process that pwsh is, as DSC would start powershell.exe: a dotnet tool's pwsh is a shim that starts dotnet
    # with pwsh.dll as its child, and would stand between the run and the resource.
    $script:PwshCommand = @(& $Pwsh -NoProfile -NonInteractive -Command '(Get-Process -Id $PID).Path; [Environment]::GetCommandLineArgs()[0]')
    if ([IO.Path]::GetFileNameWithoutExtension($PwshCommand[0]) -ne 'dotnet') { $script:PwshCommand = @($PwshCommand[0]) }
    # Get-NetAdapter for the resource's own pwsh, found as Windows' is: a module on PSModulePath.
    $script:StubModules = Join-Path $TestDrive 'modules'
    New-Item -ItemType Directory -Force -Path (Join-Path $StubModules 'NetAdapter') | Out-Null
    [IO.File]::WriteAllText((Join-Path $StubModules 'NetAdapter/NetAdapter.psm1'), (@(
                'function Get-NetAdapter([string[]]$Name = ''*'', [switch]$IncludeHidden) {'
                "    [pscustomobject]@{ Name = 'Ethernet 2'; InterfaceGuid = '$Ethernet'; InterfaceIndex = 3 }"
                "    [pscustomobject]@{ Name = 'Wi-Fi'; InterfaceGuid = '$WiFi'; InterfaceIndex = 4 }"
                '}') -join "`n"))
    # And what the guard asks of the session's address: Ethernet 2 holds 10.0.0.5; no default route.
    New-Item -ItemType Directory -Force -Path (Join-Path $StubModules 'NetTCPIP') | Out-Null
    [IO.File]::WriteAllText((Join-Path $StubModules 'NetTCPIP/NetTCPIP.psm1'), (@(
                'function Get-NetIPAddress($IPAddress) {'
                '    if ($IPAddress -eq ''10.0.0.5'') { [pscustomobject]@{ IPAddress = $IPAddress; InterfaceIndex = 3 } }'
                '}'
                'function Get-NetTCPConnection($State, [int[]]$LocalPort) { }'
                'function Get-NetRoute([string[]]$DestinationPrefix) { }') -join "`n"))

    # One operation run as DSC runs it: Status (the exit status), State and Diff (stdout's JSON lines, read),
    # Lines (stdout's), Traces (stderr's lines, each a JSON object of one level) and Said (their texts). A shell of
    # its own stands in for the dsc process of a run, whose children all operations of its instances are; with
    # Then, the instance of the same operation run after it in that shell, whose answer alone is read.
    function Invoke-Resource([string]$Operation, [string]$Json, [string]$Then) {
        $method = $Manifest.$Operation
        $start = New-Object Diagnostics.ProcessStartInfo
        $start.FileName = '/bin/sh'
        $start.ArgumentList.Add('-c')
        $start.ArgumentList.Add($(if ($Then) { '"$0" "$@" >/dev/null 2>&1; "$0" "$@" <"$FERRULE_TEST_THEN"; exit $?' }
                else { '"$0" "$@"; exit $?' }))
        foreach ($word in $(if ($method.executable -eq 'powershell') { $PwshCommand } else { $method.executable })) {
            $start.ArgumentList.Add($word)
        }
        foreach ($argument in $method.args) { $start.ArgumentList.Add($argument) }
        if ($Then) {
            $start.Environment['FERRULE_TEST_THEN'] = Join-Path $TestDrive 'then.json'
            [IO.File]::WriteAllText($start.Environment['FERRULE_TEST_THEN'], $Then)
        }
        New-Item -ItemType Directory -Force -Path (Join-Path $TestDrive 'tmp') | Out-Null
        $start.Environment['TMPDIR'] = Join-Path $TestDrive 'tmp'
        $start.WorkingDirectory = Split-Path $ManifestPath
        $start.RedirectStandardInput = $true
        $start.RedirectStandardOutput = $true
        $start.RedirectStandardError = $true
        $start.UseShellExecute = $false
        $start.Environment['PSModulePath'] = $StubModules
        $process = [Diagnostics.Process]::Start($start)
        $out = $process.StandardOutput.ReadToEndAsync()
        $err = $process.StandardError.ReadToEndAsync()
        $process.StandardInput.Write($Json)
        $process.StandardInput.Close()
        $process.WaitForExit()
        $lines = @($out.Result -split "`n" | Where-Object { $_ })
        $traces = @($err.Result -split "`n" | Where-Object { $_ } | ForEach-Object { ConvertFrom-Json -InputObject $_ })
        [pscustomobject]@{ Status = $process.ExitCode; Lines = $lines; Traces = $traces
            State = $(if ($lines.Count -gt 0) { ConvertFrom-Json -InputObject $lines[0] })
            Diff = $(if ($lines.Count -gt 1) { , @(ConvertFrom-Json -InputObject $lines[1]) })
            Said = @(foreach ($trace in $traces) { foreach ($property in $trace.PSObject.Properties) { "$($property.Name): $($property.Value)" } })
        }
    }

    # An instance of rules, each with its properties in the schema's order (as the resource gives them back).
    function ConvertTo-Instance([object[]]$Rules) {
        $ordered = @(foreach ($rule in $Rules) {
                $one = [ordered]@{}
                foreach ($name in 'class', 'componentId', 'name', 'path', 'enabled', 'optional') { if ($rule.Contains($name)) { $one[$name] = $rule[$name] } }
                $one
            })
        ConvertTo-Json -InputObject @{ rules = $ordered } -Depth 5 -Compress
    }

    # A state's paths, each "owner path enabled" (the connection name, or the component).
    function Format-Path($State) {
        @(foreach ($one in @($State.paths)) {
                $owner = $(if ($one.PSObject.Properties['name']) { $one.name } else { $one.componentId })
                "$owner $($one.path) $($one.enabled)"
            })
    }

    # What changed on the machine between two of its states, each "component path state after".
    function Compare-State([string[]]$Before, [string[]]$After) {
        @(Compare-Object $Before $After | Where-Object SideIndicator -eq '=>' | ForEach-Object InputObject | Sort-Object)
    }
}
AfterAll { Remove-Suite }

Describe 'The DSC command resource''s manifest' {
    It 'is JSON with what DSC''s manifest schema requires' {
        $Manifest.'$schema' | Should -Be 'https://aka.ms/dsc/schemas/v3/bundled/resource/manifest.json'
        $Manifest.type | Should -MatchExactly '^\w+(\.\w+){0,2}/\w+$'
        $Manifest.type | Should -Be 'Ferrule/BindingList'
        $Manifest.version | Should -Match '^(0|[1-9]\d*)\.(0|[1-9]\d*)\.(0|[1-9]\d*)(\+[0-9a-zA-Z-]+)?$'
        # The module's version, its fourth part as semver's build metadata.
        $version = [version](Import-PowerShellDataFile (Join-Path $ModuleFolder 'Ferrule.psd1')).ModuleVersion
        $Manifest.version | Should -Be "$($version.Major).$($version.Minor).$($version.Build)+$($version.Revision)"
        @($Manifest.tags | Where-Object { $_ -notmatch '^\w+$' }) | Should -BeNullOrEmpty
        @($Manifest.PSObject.Properties.Name | Where-Object { @('$schema', 'type', 'version', 'description', 'tags', 'get', 'set', 'whatIf', 'test',
                        'export', 'exitCodes', 'schema') -cnotcontains $_ }) | Should -BeNullOrEmpty
    }

    It 'defines <Operation> as DSC''s reference says: input on stdin<Return>' -ForEach @(
        @{ Operation = 'get'; Return = ''; Expected = $null }
        @{ Operation = 'set'; Return = ', its own pretest, and the state returned'; Expected = 'state'; Pretest = $true }
        @{ Operation = 'whatIf'; Return = ', its own pretest, and the state returned'; Expected = 'state'; Pretest = $true }
        @{ Operation = 'test'; Return = ', with the state and the differing properties returned'; Expected = 'stateAndDiff' }
        @{ Operation = 'export'; Return = ''; Expected = $null }
    ) {
        $method = $Manifest.$Operation
        $method.executable | Should -Be 'powershell'
        $method.input | Should -BeExactly 'stdin'
        @($method.args | Where-Object { $_ -isnot [string] }) | Should -BeNullOrEmpty
        @($method.args) | Should -Not -Contain '-ExecutionPolicy'
        $allowed = @('executable', 'args', 'input') + @(if ($Expected) { 'return' }) + @(if ($Pretest) { 'implementsPretest' })
        @($method.PSObject.Properties.Name | Where-Object { $allowed -cnotcontains $_ }) | Should -BeNullOrEmpty
        if ($Expected) { $method.return | Should -BeExactly $Expected }
        if ($Pretest) { $method.implementsPretest | Should -BeTrue }
    }

    It 'names only what the package holds: the module beside its folder, and the function that answers each operation' {
        $files = (Import-PowerShellDataFile (Join-Path $ModuleFolder 'Ferrule.psd1')).FileList
        $files | Should -Contain 'DSC/ferrule.dsc.resource.json'
        $function = & (Get-Module Ferrule) { Get-Command Invoke-DesiredCommand }
        $operations = @($function.Parameters['Operation'].Attributes | Where-Object { $_ -is [Management.Automation.ValidateSetAttribute] }).ValidValues
        foreach ($name in 'get', 'set', 'whatIf', 'test', 'export') {
            $command = @($Manifest.$name.args)[-1]
            $command | Should -BeExactly "& (Import-Module -Name ../Ferrule.psd1 -PassThru -ErrorAction Stop) { Invoke-DesiredCommand -Operation $name }"
            $module = [regex]::Match($command, 'Import-Module -Name (\S+)').Groups[1].Value
            Test-Path (Join-Path (Split-Path $ManifestPath) $module) | Should -BeTrue
            $files | Should -Contain ([IO.Path]::GetFileName($module))
            $operations | Should -Contain $name
        }
    }

    It 'has exit codes whose keys are integers as text, each with its meaning' {
        $codes = @($Manifest.exitCodes.PSObject.Properties)
        @($codes | Where-Object { $_.Name -notmatch '^-?[0-9]+$' -or $_.Value -isnot [string] -or -not $_.Value }) | Should -BeNullOrEmpty
        @($codes.Name) | Should -Be @('0', '1', '2', '3', '4')
    }

    It 'embeds an instance schema that declares every property and refuses any other' {
        $embedded = $Manifest.schema.embedded
        @($Manifest.schema.PSObject.Properties.Name) | Should -Be @('embedded')
        @('https://json-schema.org/draft/2020-12/schema', 'https://json-schema.org/draft/2019-09/schema',
            'http://json-schema.org/draft-07/schema#') | Should -Contain $embedded.'$schema'
        $embedded.type | Should -BeExactly 'object'
        $embedded.additionalProperties | Should -BeFalse
        @($embedded.properties.PSObject.Properties.Name) | Should -Be @('rules', 'paths', '_inDesiredState', '_restartRequired')
        $embedded.properties.rules.items.additionalProperties | Should -BeFalse
        @($embedded.properties.rules.items.properties.PSObject.Properties.Name) |
            Should -Be @('class', 'componentId', 'name', 'path', 'enabled', 'optional')
        foreach ($name in 'paths', '_inDesiredState', '_restartRequired') { $embedded.properties.$name.readOnly | Should -BeTrue }
    }

    It 'refuses, by its schema, <Case>' -ForEach @(
        @{ Case = 'an instance with a property of its own'; Json = '{"rules":[],"rule":[]}' }
        @{ Case = 'a rule with a misspelt property'; Json = '{"rules":[{"class":"Adapter","componentId":"ms_tcpip6","nmae":"*","enabled":false}]}' }
        @{ Case = 'a rule of no class'; Json = '{"rules":[{"class":"Adapters","componentId":"ms_tcpip6","enabled":false}]}' }
        @{ Case = 'a rule with no component or path'; Json = '{"rules":[{"class":"Adapter","name":"*","enabled":false}]}' }
        @{ Case = 'a restart in another shape'; Json = '{"rules":[],"_restartRequired":[{"process":"x"}]}' }
    ) {
        Test-Json -Json $Json -Schema $SchemaText -ErrorAction SilentlyContinue | Should -BeFalse
        Test-Json -Json '{"rules":[{"class":"Adapter","componentId":"ms_tcpip6","name":"*","enabled":false}]}' -Schema $SchemaText | Should -BeTrue
    }
}

Describe 'The DSC command resource, run as DSC runs it' {
    BeforeDiscovery {
        # The example's baseline: IPv6 off every adapter but Wi-Fi (where there is one), File and Printer Sharing
        # off Wi-Fi. On the sample, IPv6 is bound to Ethernet 2 and not to Wi-Fi, and sharing is bound to both.
        $script:Baseline = @(
            @{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = '*'; enabled = $false }
            @{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = 'Wi-Fi'; enabled = $true; optional = $true }
            @{ class = 'Adapter'; componentId = 'ms_server'; name = 'Wi-Fi'; enabled = $false })
        $script:Sample = @("Ethernet 2 ms_tcpip6->$Ethernet True", "Wi-Fi ms_tcpip6->$WiFi False", "Wi-Fi ms_server->$WiFi True")
        $script:Applied = @("Ethernet 2 ms_tcpip6->$Ethernet False", "Wi-Fi ms_tcpip6->$WiFi True", "Wi-Fi ms_server->$WiFi False")
        $script:Made = @("ms_tcpip6 ms_tcpip6->$Ethernet False", "ms_tcpip6 ms_tcpip6->$WiFi True", "ms_server ms_server->$WiFi False")
        $script:Unmatched = @{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = 'WiFi'; enabled = $true }
    }

    # Each row: the operation, its instance (Rules, or Json as it comes), lines of the machine's own (Extra), a set
    # before it (Before), and what it must give: the exit status, the paths of its state, test's answer and
    # differing properties, the changes on the machine, what stderr must say, and a restart.
    It '<Operation>: <Case>' -ForEach @(
        @{ Operation = 'get'; Case = 'the actual state of each path the rules name'; Rules = $Baseline; Status = 0; Paths = $Sample }
        @{ Operation = 'test'; Case = 'out of state, with the differing property'; Rules = $Baseline; Status = 0; Paths = $Sample
            InState = $false; Diff = @('rules') }
        @{ Operation = 'test'; Case = 'in state, with none differing'; Status = 0; InState = $true; Diff = @()
            Rules = @(@{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = 'Wi-Fi'; enabled = $false }
                @{ class = 'Protocol'; componentId = 'ms_tcpip'; path = 'ms_server->ms_tcpip'; enabled = $true })
            Paths = @("Wi-Fi ms_tcpip6->$WiFi False", 'ms_tcpip ms_server->ms_tcpip True') }
        @{ Operation = 'set'; Case = 'only what the rules name changes, and the state after is returned'; Rules = $Baseline
            Status = 0; Paths = $Applied; Changes = $Made; Said = @("info: Ethernet 2: ms_tcpip6->${Ethernet}: disabled.") }
        @{ Operation = 'set'; Case = 'again, with nothing to run'; Rules = $Baseline; Before = $true; Status = 0; Paths = $Applied
            Said = @('info: Every binding path that the baseline names is in its state: nothing is changed.') }
        @{ Operation = 'whatIf'; Case = 'what set would change, changing nothing'; Rules = $Baseline; Status = 0; Paths = $Applied
            Said = @("info: Wi-Fi: ms_server->${WiFi}: would be disabled.") }
        @{ Operation = 'test'; Case = 'a rule that names nothing is off its state'; Rules = @($Baseline[0], $Unmatched); Status = 0
            InState = $false; Diff = @('rules'); Paths = @("Ethernet 2 ms_tcpip6->$Ethernet True", "Wi-Fi ms_tcpip6->$WiFi False") }
        @{ Operation = 'set'; Case = 'a rule that names nothing changes nothing'; Rules = @($Baseline[0], $Unmatched); Status = 2
            Said = @('error: The baseline was not applied, and nothing was changed: A rule names no binding path*WiFi*') }
        @{ Operation = 'set'; Case = 'an optional rule that names nothing'; Rules = @($Baseline[0], ($Unmatched + @{ optional = $true }))
            Status = 0; Paths = @("Ethernet 2 ms_tcpip6->$Ethernet False", "Wi-Fi ms_tcpip6->$WiFi False")
            Changes = @("ms_tcpip6 ms_tcpip6->$Ethernet False") }
        @{ Operation = 'set'; Case = 'a rule and its exception after it'; Status = 0
            Rules = @(@{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = '*'; enabled = $false }
                @{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = 'Wi-Fi'; enabled = $true })
            Paths = @("Ethernet 2 ms_tcpip6->$Ethernet False", "Wi-Fi ms_tcpip6->$WiFi True")
            Changes = @("ms_tcpip6 ms_tcpip6->$Ethernet False", "ms_tcpip6 ms_tcpip6->$WiFi True") }
        @{ Operation = 'set'; Case = 'an unknown property changes nothing'; Status = 2
            Json = '{"rules":[{"class":"Adapter","componentId":"ms_tcpip6","name":"*","enabled":false}],"rule":1}'
            Said = @('error: The instance has a property rule, which it cannot have*') }
        @{ Operation = 'set'; Case = 'a rule''s misspelt property changes nothing'; Status = 2
            Json = '{"rules":[{"class":"Adapter","componentId":"ms_tcpip6","nmae":"Wi-Fi","enabled":true}]}'
            Said = @('error: Rule 1 has a property nmae*') }
        @{ Operation = 'set'; Case = 'a row that the module cannot read changes nothing'; Status = 2
            Rules = @($Baseline[0], @{ class = 'Protocol'; componentId = 'ms_tcpip'; name = 'Wi-Fi'; enabled = $false })
            Said = @('error: A row names adapters (Name) but is of class Protocol.') }
        @{ Operation = 'get'; Case = 'no JSON'; Json = 'rules'; Status = 2; Said = @('error: The instance is not a JSON object*') }
        @{ Operation = 'get'; Case = 'a held lock'; Rules = $Baseline; Extra = @('lock "Network Connections"'); Status = 3
            Said = @('error: ferrule: lock->AcquireWriteLock() returned 1 (Another program holds*', 'error: The bindings that the baseline names could not all be read*') }
        @{ Operation = 'set'; Case = 'a held lock changes nothing'; Rules = $Baseline; Extra = @('lock "Network Connections"'); Status = 3
            Said = @('error: The bindings that the baseline names could not all be read, and nothing was changed.') }
        @{ Operation = 'set'; Case = 'an apply that asks for a restart'; Rules = $Baseline; Extra = @('fail INetCfg.Apply * 4a020')
            Status = 0; Paths = $Applied; Changes = $Made; Restart = $true; Said = @('warn: *a restart completes it*') }
        @{ Operation = 'set'; Case = 'an apply that fails names each path not made'; Rules = $Baseline[0, 2]
            Extra = @('fail INetCfg.Apply * 80004005'); Status = 4
            Said = @("error: Ethernet 2: ms_tcpip6->${Ethernet}: not disabled, as the baseline wants it.",
                "error: Wi-Fi: ms_server->${WiFi}: not disabled, as the baseline wants it.") }
        @{ Operation = 'set'; Case = 'the guard''s refusal, over SSH to Ethernet 2, is a path not made'; Session = $true; Status = 4
            Rules = @(@{ class = 'Adapter'; componentId = 'ms_tcpip'; name = 'Ethernet 2'; enabled = $false }, $Baseline[2])
            Changes = @("ms_server ms_server->$WiFi False")
            Said = @('error: *not disabled: *', "error: Ethernet 2: ms_tcpip->${Ethernet}: not disabled, as the baseline wants it.",
                "warn: Wi-Fi: ms_server->${WiFi}: disabled.") }
    ) {
        $file = Use-Machine -Extra @($Extra)
        $json = $(if ($Json) { $Json } else { ConvertTo-Instance $Rules })
        if ($Before) { (Invoke-Resource set $json).Status | Should -Be 0 }
        Remove-Item "$file.journal" -ErrorAction SilentlyContinue
        $before = Get-State $file
        if ($Session) { $env:SSH_CONNECTION = '10.0.0.9 50000 10.0.0.5 22' }
        try { $run = Invoke-Resource $Operation $json } finally { $env:SSH_CONNECTION = $null }
        "$($run.Status) $($run.Said)" | Should -BeLike "$Status *"
        foreach ($pattern in @($Said | Where-Object { $_ })) { @($run.Said | Where-Object { $_ -like $pattern }) | Should -Not -BeNullOrEmpty -Because $pattern }
        Compare-State $before (Get-State $file) | Should -Be @($Changes | Sort-Object)
        if (-not $Changes -and $Status -ne 4) { Get-Calls $file '\.Enable\(|INetCfg\.Apply' | Should -BeNullOrEmpty }
        if ($Status -ne 0) {
            $run.Lines | Should -BeNullOrEmpty
            return
        }
        Format-Path $run.State | Should -Be $Paths
        Test-Json -Json $run.Lines[0] -Schema $SchemaText | Should -BeTrue
        $run.Lines.Count | Should -Be $(if ($Operation -eq 'test') { 2 } else { 1 })
        if ($Operation -eq 'test') {
            $run.State._inDesiredState | Should -Be $InState
            @($run.Diff) | Should -Be @($Diff)
        } else {
            $run.State.PSObject.Properties['_inDesiredState'] | Should -BeNullOrEmpty
        }
        if ($Restart) {
            ConvertTo-Json -InputObject @($run.State._restartRequired) -Compress | Should -Be "[{`"system`":`"$([Environment]::MachineName)`"}]"
        } else {
            $run.State.PSObject.Properties['_restartRequired'] | Should -BeNullOrEmpty
        }
        # The rules come back as they were given.
        ConvertTo-Json -InputObject @($run.State.rules) -Compress -Depth 5 |
            Should -Be (ConvertTo-Json -InputObject @((ConvertFrom-Json -InputObject $json).rules) -Compress -Depth 5)
    }

    It '<Operation>: refuses the second of two instances of one run that name a path in common<Case>' -ForEach @(
        @{ Operation = 'set'; Case = ', and changes nothing for it'; Status = 2; Shared = $true }
        @{ Operation = 'test'; Case = ''; Status = 2; Shared = $true }
        @{ Operation = 'set'; Case = ' (none in common: both are applied)'; Status = 0; Shared = $false }
    ) {
        $file = Use-Machine
        $first = ConvertTo-Instance @(@{ class = 'Adapter'; componentId = 'ms_tcpip6'; name = '*'; enabled = $false })
        $second = ConvertTo-Instance @(@{ class = 'Adapter'; componentId = $(if ($Shared) { 'ms_tcpip6' } else { 'ms_server' }); name = 'Wi-Fi'
                enabled = $Shared })
        $run = Invoke-Resource $Operation $first -Then $second
        "$($run.Status) $($run.Said)" | Should -BeLike "$Status *"
        if ($Shared) {
            $run.Said | Should -Contain ("error: Wi-Fi: ms_tcpip6->${WiFi} is named by another instance of this configuration too (rules " +
                '[{"class":"Adapter","componentId":"ms_tcpip6","name":"*","enabled":false}]): one instance is one baseline, and two that ' +
                'name a path in common are refused, so nothing was changed.')
        }
        $expected = @(if ($Operation -eq 'set') { "ms_tcpip6 ms_tcpip6->$Ethernet False" }) + @(if (-not $Shared) { "ms_server ms_server->$WiFi False" })
        Compare-State (Get-State $Machines.sample) (Get-State $file) | Should -Be @($expected | Sort-Object)
        # Each run is a run of its own.
        (Invoke-Resource $Operation $second).Status | Should -Be 0
    }

    It 'exports every path as one instance, which a set on a fresh copy of the machine accepts and leaves in state' {
        $file = Use-Machine
        $exported = Invoke-Resource export ''
        $exported.Status | Should -Be 0
        $exported.Lines.Count | Should -Be 1
        Test-Json -Json $exported.Lines[0] -Schema $SchemaText | Should -BeTrue
        $machine = @(Read-Machine $file)
        @($exported.State.paths).Count | Should -Be $machine.Count
        @($exported.State.paths | ForEach-Object { "$($_.componentId) $($_.path) $($_.enabled)" }) | Should -Be (Get-State $file)
        # Adapters by their connection names, never their GUIDs.
        @($exported.State.rules | Where-Object { $_.class -eq 'Adapter' -and ($_.PSObject.Properties['path'] -or -not $_.name) }) |
            Should -BeNullOrEmpty
        $instance = ConvertTo-Json -InputObject @{ rules = @($exported.State.rules) } -Depth 5 -Compress
        $fresh = Use-Machine
        Set-AdapterStub
        Disable-FerruleBinding -Name 'Wi-Fi' -ComponentID ms_server -Confirm:$false
        Enable-FerruleBinding -Class Protocol -ComponentID ms_tcpip6 -Path 'ms_msclient->ms_tcpip6' -Confirm:$false
        Remove-Item "$fresh.journal"
        (Invoke-Resource set $instance).Status | Should -Be 0
        Get-State $fresh | Should -Be (Get-State $file)
        $test = Invoke-Resource test $instance
        $test.State._inDesiredState | Should -BeTrue
        Get-Calls $fresh '\.Enable\(' | Should -HaveCount 2
    }
}

Describe 'The examples' {
    BeforeAll {
        # The rules of an example, read as YAML reads this one shape of it: each "- key: value" starts a rule
        # under "rules:" (any case), each "key: value" after it adds to it; an unquoted true or false is a boolean.
        function Read-ExampleRule([string]$Name) {
            $rules = New-Object System.Collections.ArrayList
            $inside = $false
            foreach ($line in [IO.File]::ReadAllLines((Join-Path $root "examples/$Name"))) {
                if ($line -match '^\s*rules:\s*$') { $inside = $true; continue }
                if (-not $inside -or $line -notmatch '^\s*(- )?(\w+): (.*)$') { continue }
                if ($Matches[1]) { [void]$rules.Add([ordered]@{}) }
                $value = $Matches[3]
                $rules[-1][$Matches[2]] = $(if ($value -eq 'true') { $true } elseif ($value -eq 'false') { $false } else { $value.Trim("'") })
            }
            , $rules.ToArray()
        }
    }

    It 'holds one baseline in each of its DSC v3, WinGet DSC v3 and WinGet PowerShell DSC documents' {
        $v3 = Read-ExampleRule 'bindings.dsc.config.yaml'
        $v3.Count | Should -Be 3
        ConvertTo-Json -InputObject (Read-ExampleRule 'bindings.dscv3.winget') -Compress | Should -Be (ConvertTo-Json -InputObject $v3 -Compress)
        # The class resource's rules are text, as a row's cells are.
        $classRules = @(foreach ($rule in $v3) { $one = [ordered]@{}; foreach ($key in $rule.Keys) { $one[$key] = "$($rule[$key])" }; $one })
        ConvertTo-Json -InputObject (Read-ExampleRule 'bindings.psdsc.winget') -Compress | Should -Be (ConvertTo-Json -InputObject $classRules -Compress)
        [IO.File]::ReadAllText((Join-Path $root 'examples/bindings.dscv3.winget')) | Should -BeLike '*identifier: dscv3*type: Ferrule/BindingList*'
        [IO.File]::ReadAllText((Join-Path $root 'examples/bindings.psdsc.winget')) | Should -BeLike '*resource: Ferrule/FerruleBindingList*'
    }

    It 'unbinds IPv6 from every adapter but Wi-Fi, and File and Printer Sharing from Wi-Fi, <Case>' -ForEach @(
        @{ Case = 'on the sample'; Without = $false
            Expected = @("ms_server ms_server->$WiFi False", "ms_tcpip6 ms_tcpip6->$Ethernet False", "ms_tcpip6 ms_tcpip6->$WiFi True") }
        @{ Case = 'and takes a machine without Wi-Fi'; Without = $true; Expected = @("ms_tcpip6 ms_tcpip6->$Ethernet False") }
    ) {
        $file = Use-Machine
        if ($Without) {
            $text = [IO.File]::ReadAllText($file)
            [IO.File]::WriteAllText($file, [regex]::Replace($text, '(?ms)^  component "\{9E8D7C6B[^\n]*\n(    path [^\n]*\n)*', ''))
        }
        $before = Get-State $file
        $instance = ConvertTo-Instance (Read-ExampleRule 'bindings.dsc.config.yaml')
        (Invoke-Resource set $instance).Status | Should -Be 0
        Compare-State $before (Get-State $file) | Should -Be $Expected
        (Invoke-Resource test $instance).State._inDesiredState | Should -BeTrue
    }
}

Describe 'The DSC class resource FerruleBindingList' {
    # In a pwsh of its own, so that the classes load fresh from the module's root file.
    It 'gets, tests and sets a baseline, with a reason for each path off its state and each rule that names nothing' {
        $file = Use-Machine
        $child = Join-Path $TestDrive 'class.ps1'
        [IO.File]::WriteAllText($child, @"
using module '$(Join-Path $ModuleFolder 'Ferrule.psd1')'
`$ErrorActionPreference = 'Stop'
function New-Rule([string]`$ComponentID, [string]`$Name, [string]`$Enabled, [string]`$Optional = '') {
    `$rule = [FerruleRule]::new(); `$rule.Class = 'Adapter'; `$rule.ComponentID = `$ComponentID; `$rule.Name = `$Name
    `$rule.Enabled = `$Enabled; `$rule.Optional = `$Optional; `$rule
}
`$list = [FerruleBindingList]::new(); `$list.Baseline = 'IPv6 off but Wi-Fi'
`$list.Rules = @((New-Rule ms_tcpip6 '*' False), (New-Rule ms_tcpip6 Wi-Fi True True), (New-Rule ms_server Wi-Fi False))
"test: `$(`$list.Test())"
foreach (`$reason in `$list.Get().Reasons) { "reason: `$(`$reason.Code) `$(`$reason.Phrase)" }
`$list.Set()
"set"
"test: `$(`$list.Test())"
"reasons: `$(@(`$list.Get().Reasons).Count)"
`$list.Rules = @((New-Rule ms_tcpip6 '*' True), (New-Rule ms_tcpip6 WiFi False))
foreach (`$reason in `$list.Get().Reasons) { "reason: `$(`$reason.Code) `$(`$reason.Phrase)" }
try { `$list.Set(); 'set' } catch { "refused: `$_" }
"@)
        $modules = $env:PSModulePath
        $env:PSModulePath = $StubModules
        $env:TMPDIR = (New-Item -ItemType Directory -Force -Path (Join-Path $TestDrive 'tmp')).FullName
        try { $lines = @(& $Pwsh -NoProfile -NonInteractive -File $child 2>&1 | ForEach-Object { "$_" }) } finally { $env:PSModulePath = $modules; $env:TMPDIR = $null }
        $lines | Should -Be @(
            'test: False'
            "reason: FerruleBindingList:FerruleBindingList:PathNotInState Ethernet 2: ms_tcpip6->$Ethernet is enabled, and the baseline wants it disabled."
            "reason: FerruleBindingList:FerruleBindingList:PathNotInState Wi-Fi: ms_tcpip6->$WiFi is disabled, and the baseline wants it enabled."
            "reason: FerruleBindingList:FerruleBindingList:PathNotInState Wi-Fi: ms_server->$WiFi is enabled, and the baseline wants it disabled."
            'set'
            'test: True'
            'reasons: 0'
            "reason: FerruleBindingList:FerruleBindingList:RuleNamesNothing A rule names no binding path of class Adapter here: ComponentID 'ms_tcpip6', Name 'WiFi' (a rule that may name nothing is optional)."
            "reason: FerruleBindingList:FerruleBindingList:PathNotInState Ethernet 2: ms_tcpip6->$Ethernet is disabled, and the baseline wants it enabled."
            "refused: IPv6 off but Wi-Fi: The baseline was not applied, and nothing was changed: A rule names no binding path of class Adapter here: ComponentID 'ms_tcpip6', Name 'WiFi' (a rule that may name nothing is optional)."
        )
        Compare-State (Get-State $Machines.sample) (Get-State $file) |
            Should -Be @("ms_server ms_server->$WiFi False", "ms_tcpip6 ms_tcpip6->$Ethernet False", "ms_tcpip6 ms_tcpip6->$WiFi True")
    }

    It 'is the module''s one DSC resource, with the properties that DSC reads' {
        $manifest = Import-PowerShellDataFile (Join-Path $ModuleFolder 'Ferrule.psd1')
        @($manifest.DscResourcesToExport) | Should -Be @('FerruleBindingList')
        $said = & $Pwsh -NoProfile -NonInteractive -Command ("using module '$(Join-Path $ModuleFolder 'Ferrule.psd1')'`n" +
            '[FerruleBindingList].GetProperties() | ForEach-Object { "$($_.Name) $($_.PropertyType.Name) " + ' +
            '($_.GetCustomAttributes([System.Management.Automation.DscPropertyAttribute], $false) | ' +
            'ForEach-Object { "$($_.Key) $($_.Mandatory) $($_.NotConfigurable)" }) }') 2>&1
        @($said | ForEach-Object { "$_" } | Sort-Object) | Should -Be @('Baseline String True False False', 'Reasons FerruleReason[] False False True',
            'Rules FerruleRule[] False True False')
    }
}
