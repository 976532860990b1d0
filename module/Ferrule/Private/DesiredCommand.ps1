# The DSC command resource Ferrule/BindingList: DSC runs Windows PowerShell
# (or pwsh) once an operation, as DSC/ferrule.dsc.resource.json says, in the
# manifest's folder, with the instance as JSON on stdin. Invoke-DesiredCommand
# reads it, refuses what the instance schema refuses, hands the rules to
# Invoke-DesiredState, and answers as DSC reads an answer: the state as one
# JSON line on stdout (test's also the differing properties), each message as
# a JSON line of its level on stderr, and the exit status (0, or the
# manifest's exitCodes) as the process's.

# The instance's properties and a rule's, as the instance schema gives them;
# a rule's, camelCase, are the row reader's names (it reads names case aside).
$script:DesiredProperties = @('rules', 'paths', '_inDesiredState', '_restartRequired')
$script:RuleProperties = @('class', 'componentId', 'name', 'path', 'enabled', 'optional')
$script:DesiredOperations = @{ get = 'Get'; set = 'Set'; test = 'Test'; whatIf = 'WhatIf'; export = 'Export' }

# Runs one operation and ends the process with its status. stdin, stdout and
# stderr are read and written as UTF-8 through their own streams: Windows
# PowerShell's console encoding is the OEM code page, and setting the
# console's would change the code page of the console DSC runs in.
function Invoke-DesiredCommand {
    param([Parameter(Mandatory = $true)] [ValidateSet('get', 'set', 'test', 'whatIf', 'export')] [string]$Operation)
    $ProgressPreference = 'SilentlyContinue'
    $utf8 = New-Object System.Text.UTF8Encoding $false
    $out = New-Object System.IO.StreamWriter -ArgumentList ([Console]::OpenStandardOutput()), $utf8
    $err = New-Object System.IO.StreamWriter -ArgumentList ([Console]::OpenStandardError()), $utf8
    $status = 1
    try {
        $reader = New-Object System.IO.StreamReader -ArgumentList ([Console]::OpenStandardInput()), $utf8
        $instance = Read-DesiredInstance -Text $reader.ReadToEnd() -Operation $Operation
        foreach ($problem in $instance.Problems) { Write-DesiredTrace -Writer $err -Level Error -Text $problem }
        $status = 2
        if ($instance.Problems.Count -eq 0) {
            $given = @(foreach ($rule in $instance.Rules) { ConvertTo-DesiredRule -Rule $rule })
            $shown = ConvertTo-Json -InputObject $given -Depth 4 -Compress
            $stateArguments = @{ Operation = $script:DesiredOperations[$Operation]; Rules = $instance.Rules
                Run = Get-DesiredRun -Parent; Instance = $shown; Shown = "rules $shown"
            }
            $result = Invoke-DesiredState @stateArguments
            foreach ($message in $result.Messages) {
                Write-DesiredTrace -Writer $err -Level $message.Level -Text $message.Text
            }
            $status = $result.Status
            if ($status -eq 0) { Write-DesiredAnswer -Writer $out -Result $result -Rules $instance.Rules }
        }
    } catch {
        Write-DesiredTrace -Writer $err -Level Error -Text "$_"
        $status = 1
    } finally {
        $out.Flush()
        $err.Flush()
    }
    exit $status
}

# One message as DSC reads a resource's stderr: a JSON line whose one
# property is its level.
function Write-DesiredTrace {
    param([IO.TextWriter]$Writer, [string]$Level, [string]$Text)
    $key = @{ Error = 'error'; Warning = 'warn'; Information = 'info' }[$Level]
    $Writer.Write((ConvertTo-Json -InputObject @{ $key = $Text } -Compress) + "`n")
}

# The answer on stdout: the state (rules, paths; test's _inDesiredState, a
# set's or what-if's _restartRequired where an apply said a restart
# completes it), and after test's the properties off their state.
function Write-DesiredAnswer {
    param([IO.TextWriter]$Writer, $Result, [object[]]$Rules)
    $given = $(if ($Result.Operation -eq 'Export') { $Result.Rules } else { $Rules })
    $state = [ordered]@{ rules = @(foreach ($rule in $given) { ConvertTo-DesiredRule -Rule $rule })
        paths = @(foreach ($path in $Result.Paths) { ConvertTo-DesiredPath -Path $path })
    }
    if ($Result.Operation -eq 'Test') { $state._inDesiredState = [bool]$Result.InDesiredState }
    if ($Result.RestartRequired) {
        $state._restartRequired = @([ordered]@{ system = (& $script:HostSeam.MachineIdentity).MachineName })
    }
    $Writer.Write((ConvertTo-Json -InputObject $state -Depth 6 -Compress) + "`n")
    if ($Result.Operation -ne 'Test') { return }
    $differing = [string[]]@(if (-not $Result.InDesiredState) { 'rules' })
    $Writer.Write((ConvertTo-Json -InputObject $differing -Compress) + "`n")
}

# A rule as the schema names its properties, in their order, those given.
function ConvertTo-DesiredRule {
    param($Rule)
    $json = [ordered]@{}
    foreach ($name in $script:RuleProperties) {
        $property = $Rule.PSObject.Properties[$name]
        if ($property -and $null -ne $property.Value) { $json[$name] = $property.Value }
    }
    $json
}

function ConvertTo-DesiredPath {
    param($Path)
    $json = [ordered]@{ class = $Path.Class; componentId = $Path.ComponentID }
    if ($Path.Name) { $json.name = $Path.Name }
    $json.path = $Path.Path
    $json.enabled = [bool]$Path.Enabled
    $json
}

# The instance's rules, and the Problems that refuse it (each a message): no
# JSON object (export takes none), a property that the schema does not have,
# or a value that it does not take.
function Read-DesiredInstance {
    param([string]$Text, [string]$Operation)
    $problems = New-Object System.Collections.ArrayList
    $result = [pscustomobject]@{ Rules = @(); Problems = $problems }
    if (-not $Text.Trim()) {
        if ($Operation -ne 'export') { [void]$problems.Add((Get-Message -Id DesiredInputMissing)) }
        return $result
    }
    try {
        $instance = ConvertFrom-Json -InputObject $Text
    } catch {
        [void]$problems.Add((Get-Message -Id DesiredInputUnreadable -Values $_.Exception.Message))
        return $result
    }
    if ($instance -isnot [Management.Automation.PSCustomObject]) {
        [void]$problems.Add((Get-Message -Id DesiredInputUnreadable -Values 'not an object'))
        return $result
    }
    foreach ($property in $instance.PSObject.Properties) {
        if ($script:DesiredProperties -cnotcontains $property.Name) {
            [void]$problems.Add((Get-Message -Id DesiredPropertyUnknown -Values 'The instance', $property.Name,
                    ($script:DesiredProperties -join ', ')))
        }
    }
    $rules = $instance.PSObject.Properties['rules']
    if (-not $rules) {
        if ($Operation -ne 'export') { [void]$problems.Add((Get-Message -Id DesiredValueRefused -Values 'The instance',
                    'rules', 'given')) }
        return $result
    }
    if ($rules.Value -isnot [array]) {
        [void]$problems.Add((Get-Message -Id DesiredValueRefused -Values 'The instance', 'rules', 'an array'))
        return $result
    }
    $result.Rules = @($rules.Value)
    for ($i = 0; $i -lt $result.Rules.Count; $i++) {
        foreach ($problem in @(Test-DesiredRule -Rule $result.Rules[$i] -Label "Rule $($i + 1)")) {
            [void]$problems.Add($problem)
        }
    }
    $result
}

# What the instance schema refuses in one rule, as messages.
function Test-DesiredRule {
    param($Rule, [string]$Label)
    if ($Rule -isnot [Management.Automation.PSCustomObject]) {
        return Get-Message -Id DesiredValueRefused -Values $Label, 'it', 'an object'
    }
    foreach ($property in $Rule.PSObject.Properties) {
        $name = $property.Name
        $value = $property.Value
        if ($script:RuleProperties -cnotcontains $name) {
            Get-Message -Id DesiredPropertyUnknown -Values $Label, $name, ($script:RuleProperties -join ', ')
        } elseif ($name -eq 'class' -and @($script:ClassWords.Keys) -cnotcontains $value) {
            Get-Message -Id DesiredValueRefused -Values $Label, $name, (@($script:ClassWords.Keys) -join ', ')
        } elseif ('enabled', 'optional' -contains $name -and $value -isnot [bool]) {
            Get-Message -Id DesiredValueRefused -Values $Label, $name, 'true or false'
        } elseif ('componentId', 'name', 'path' -contains $name -and ($value -isnot [string] -or -not $value)) {
            Get-Message -Id DesiredValueRefused -Values $Label, $name, 'a text that is not empty'
        }
    }
    foreach ($name in 'class', 'enabled') {
        if ($Rule.PSObject.Properties[$name]) { continue }
        Get-Message -Id DesiredValueRefused -Values $Label, $name, 'given'
    }
    if (-not $Rule.PSObject.Properties['componentId'] -and -not $Rule.PSObject.Properties['path']) {
        Get-Message -Id DesiredValueRefused -Values $Label, 'componentId or path', 'given'
    }
}
