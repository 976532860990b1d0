# The Windows check's changes (Test-Ferrule): one path changed and put back
# by ferrule, and the x86 listing beside the x64 one.

function Get-LltdioState {
    param([string]$Adapter)
    $entry = (Get-PlatformView).Bindings[(Get-PairKey $Adapter $script:Lltdio)]
    if ($null -eq $entry) { return $null }
    [bool]$entry.Binding.Enabled
}

# One ferrule run that changes the one path: what was wrong with it.
function Invoke-CheckChange {
    param([string]$Exe, $Path, [bool]$Enable, [bool]$Before)
    $mode = 'disable'
    if ($Enable) { $mode = 'enable' }
    $arguments = @('comp', $Path.Component.Bind, 'path', $Path.Token, $mode)
    $run = Invoke-CheckRun $Exe $arguments
    # The exit status table: a disable that was applied gives 0; an enable
    # gives 0 when the path was enabled before, 1 when it was not.
    $expectedStatus = 0
    if ($Enable -and -not $Before) { $expectedStatus = 1 }
    $expected = @($Path.Component.Line, "    $($Path.Token): $([int]$Before)->$([int]$Enable)",
        'Applying changes ... success')
    $problems = @()
    if ($run.Status -ne $expectedStatus) { $problems += "exit status $($run.Status), expected $expectedStatus" }
    if (($run.Lines -join "`n") -ne ($expected -join "`n")) {
        $problems += "printed $(ConvertTo-ListText $run.Lines), expected $(ConvertTo-ListText $expected)"
    }
    Write-Host "  ferrule $($arguments -join ' '): exit status $($run.Status)"
    foreach ($line in $run.Lines) { Write-Host "    | $line" }
    $problems
}

function ConvertTo-ListText {
    param([string[]]$Lines)
    '[' + ((@($Lines) | ForEach-Object { "'" + $_ + "'" }) -join ', ') + ']'
}

# Gives the path its original state again if it has not: what went wrong, or nothing.
function Restore-CheckPath {
    param([string]$Exe, $Path, [bool]$Original)
    $adapter = $Path.Component.Bind.ToUpperInvariant()
    $state = Get-LltdioState $adapter
    if ($null -eq $state) { return "the platform no longer reports the binding of $script:Lltdio to $adapter" }
    if ($state -eq $Original) { return }
    Invoke-CheckChange -Exe $Exe -Path $Path -Enable $Original -Before $state | Out-Null
    $state = Get-LltdioState $adapter
    if ($state -ne $Original) {
        $mode = 'disable'
        if ($Original) { $mode = 'enable' }
        $problem = ("NOT PUT BACK: the platform says Enabled=$state, it was $Original; put it back with: " +
            "ferrule comp $($Path.Component.Bind) path $($Path.Token) $mode")
        Write-Host "  $problem"
        return $problem
    }
    Write-Host "  put back as it was (enabled: $Original)"
}

# The round trip, on the first adapter whose ms_lltdio binding both sides know.
function Test-RoundTrip {
    param([string]$Exe, [hashtable]$Pairs, [string]$Label = 'round trip')
    $view = Get-PlatformView
    $candidates = @($Pairs.Keys | Sort-Object | Where-Object { $_.EndsWith("|$script:Lltdio") -and
        $view.Bindings.ContainsKey($_) })
    if ($candidates.Count -eq 0) {
        Write-Host ("${Label}: FAILED: no adapter has a binding of $script:Lltdio that both ferrule and the platform " +
            'report')
        return $false
    }
    $path = $Pairs[$candidates[0]]
    $original = [bool]$view.Bindings[$candidates[0]].Binding.Enabled
    Write-Host "$Label on $($path.Token) (enabled: $original):"
    $problems = @()
    $state = $original
    try {
        foreach ($enable in $false, $true) {
            $step = 'disable'
            if ($enable) { $step = 'enable' }
            $problems += @(Invoke-CheckChange -Exe $Exe -Path $path -Enable $enable `
                -Before $state | ForEach-Object { "${step}: $_" })
            $state = Get-LltdioState $path.Component.Bind.ToUpperInvariant()
            if ($state -ne $enable) {
                $problems += "after the $step, the platform says Enabled=$state"
                break
            }
        }
    } finally {
        $problems += @(Restore-CheckPath -Exe $Exe -Path $path -Original $original)
    }
    foreach ($problem in $problems) { Write-Host "  $problem" }
    $word = 'passed'
    if ($problems.Count -gt 0) { $word = 'FAILED' }
    Write-Host "${Label}: $word"
    $problems.Count -eq 0
}

# The x86 listing beside the x64 one: reported, never failed.
function Compare-X86 {
    param([string]$X64, [string]$X86)
    $differing = @()
    foreach ($name in 'dev', 'client', 'proto', 'service') {
        $ran = @((Invoke-CheckRun $X64 @('class', $name)), (Invoke-CheckRun $X86 @('class', $name)))
        if ($ran[0].Status -eq $ran[1].Status -and ($ran[0].Lines -join "`n") -eq ($ran[1].Lines -join
            "`n")) { continue }
        $differing += $name
        Write-Host "x86: class ${name}: x64 exit status $($ran[0].Status), x86 exit status $($ran[1].Status)"
        $first = 0
        while ($first -lt $ran[0].Lines.Count -and $first -lt $ran[1].Lines.Count -and $ran[0].Lines[$first] -eq
            $ran[1].Lines[$first]) { $first++ }
        foreach ($side in @(@('x64', $ran[0]), @('x86', $ran[1]))) {
            $line = '(no more lines)'
            if ($first -lt $side[1].Lines.Count) { $line = $side[1].Lines[$first] }
            Write-Host "  $($side[0]) line $($first + 1): $line"
        }
    }
    if ($differing.Count -gt 0) {
        Write-Host "x86: differs from x64 in class $($differing -join ', ') (reported only)"
        return "x86 differs in $($differing -join ', ')"
    }
    Write-Host 'x86: the same lines and exit status as x64 in all four classes'
    'x86 agrees'
}
