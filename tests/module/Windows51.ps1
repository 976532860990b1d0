# What Windows PowerShell 5.1 lacks, found in a file that pwsh 7 parses: the
# syntax that came later, the variables and parameters that came later, and a
# file that 5.1 would read in the ANSI code page (not ASCII, and no UTF-8
# byte-order mark). Returns one line for each thing found.
$script:LaterVariables = @('IsWindows', 'IsLinux', 'IsMacOS', 'IsCoreCLR', 'PSStyle')
$script:LaterParameters = @('AsHashtable', 'Parallel', 'SkipHeader', 'NoEnumerate', 'AsUTC')

function Find-Windows51Problem {
    param([Parameter(Mandatory = $true)] [string]$Path)
    $bytes = [IO.File]::ReadAllBytes($Path)
    $marked = $bytes.Length -ge 3 -and $bytes[0] -eq 0xEF -and $bytes[1] -eq 0xBB -and $bytes[2] -eq 0xBF
    if (-not $marked -and @($bytes | Where-Object { $_ -ge 0x80 }).Count -gt 0) {
        "${Path}: not ASCII, and no UTF-8 byte-order mark"
    }
    if ($Path -notmatch '\.ps[dm]?1$') { return }
    $tokens = $null
    $errors = $null
    $ast = [System.Management.Automation.Language.Parser]::ParseFile($Path, [ref]$tokens, [ref]$errors)
    foreach ($error in $errors) { "${Path}:$($error.Extent.StartLineNumber): $($error.Message)" }
    $found = $ast.FindAll({ param($node) $null -ne (Get-Windows51Lack $node) }, $true)
    foreach ($node in $found) { "${Path}:$($node.Extent.StartLineNumber): $(Get-Windows51Lack $node): $($node.Extent.Text)" }
}

function Get-Windows51Lack {
    param($Node)
    $type = $Node.GetType().Name
    switch ($type) {
        'TernaryExpressionAst' { return 'the ternary operator' }
        'PipelineChainAst' { return '&& or || between pipelines' }
        'BinaryExpressionAst' { if ([string]$Node.Operator -eq 'QuestionQuestion') { return '??' } }
        'AssignmentStatementAst' { if ([string]$Node.Operator -eq 'QuestionQuestionEquals') { return '??=' } }
        'ScriptBlockAst' { if ($Node.PSObject.Properties['CleanBlock'] -and $Node.CleanBlock) { return 'a clean block' } }
        'VariableExpressionAst' { if ($script:LaterVariables -contains $Node.VariablePath.UserPath) { return "`$$($Node.VariablePath.UserPath)" } }
        'CommandParameterAst' { if ($script:LaterParameters -contains $Node.ParameterName) { return "-$($Node.ParameterName)" } }
    }
    if ($Node.PSObject.Properties['NullConditional'] -and $Node.NullConditional) { return '?. or ?[]' }
    $null
}
