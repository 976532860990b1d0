# Tab completion of -Name and -ComponentID, on every command that has them.
# Neither completer takes the configuration lock, runs ferrule or reaches
# another machine: -Name offers this machine's connection names, -ComponentID
# the well-known bind names (on adapters, as on the NetAdapterBinding cmdlets,
# it is the component bound to the adapter, and the adapter is -Name); with
# -Session too.

# The bind names of the components that a stock Windows binds to adapters,
# and of the protocols beneath them.
$script:WellKnownComponents = @('ms_implat', 'ms_lldp', 'ms_lltdio', 'ms_msclient', 'ms_ndiscap', 'ms_netbt',
    'ms_netbt_smb', 'ms_pacer', 'ms_rspndr', 'ms_server', 'ms_tcpip', 'ms_tcpip6', 'ms_wfplwf_lower',
    'ms_wfplwf_upper')

# The values that start with what was typed (its quotes aside: PowerShell
# hands a typographic one over as its ASCII quote). A value is bare only where it begins with a letter (not a dash,
# which is a parameter's name, nor a digit, which may read as a number) and
# holds nothing but letters, digits and _ . - : \ /; else it is quoted as the
# language escapes a single-quoted string, since PowerShell takes the
# typographic quotes for single quotes as well, and a bare one ends it.
function Get-CompletionResult {
    param([string[]]$Values, [string]$Word)
    $typed = $Word.Trim("'", '"')
    foreach ($value in @($Values | Where-Object { $_ } | Sort-Object -Unique)) {
        if (-not $value.StartsWith($typed, [StringComparison]::OrdinalIgnoreCase)) { continue }
        $text = $value
        if ($value -cnotmatch '^[\p{L}_][\w.\-:\\/]*$') {
            $text = "'" + [Management.Automation.Language.CodeGeneration]::EscapeSingleQuotedStringContent($value) + "'"
        }
        New-Object System.Management.Automation.CompletionResult ($text, $value, 'ParameterValue', $value)
    }
}

$script:CompleteName = {
    param($CommandName, $ParameterName, $WordToComplete, $CommandAst, $FakeBoundParameters)
    Get-CompletionResult -Values @((& $script:AdapterNames).Values) -Word $WordToComplete
}

$script:CompleteComponentID = {
    param($CommandName, $ParameterName, $WordToComplete, $CommandAst, $FakeBoundParameters)
    Get-CompletionResult -Values $script:WellKnownComponents -Word $WordToComplete
}

$commands = 'Get-FerruleBinding', 'Set-FerruleBinding', 'Enable-FerruleBinding', 'Disable-FerruleBinding'
Register-ArgumentCompleter -CommandName $commands -ParameterName Name -ScriptBlock $script:CompleteName
Register-ArgumentCompleter -CommandName $commands -ParameterName ComponentID -ScriptBlock $script:CompleteComponentID
