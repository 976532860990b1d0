# The scripts of a remediation, made from a baseline: the templates of
# Templates/ with the baseline's rows written into them as data.

# One value as PowerShell source that gives it back exactly: a single-quoted
# literal, escaped as the language escapes one (it takes the typographic
# quotes for single quotes too), with each control character joined in as a
# [char] code, so that no change of line endings can change the value.
function ConvertTo-Literal {
    param([string]$Value)
    $quoted = { "'" + [Management.Automation.Language.CodeGeneration]::EscapeSingleQuotedStringContent($args[0]) + "'" }
    $parts = New-Object System.Collections.ArrayList
    $run = New-Object System.Text.StringBuilder
    foreach ($c in $Value.ToCharArray()) {
        if (-not [char]::IsControl($c)) {
            [void]$run.Append($c)
            continue
        }
        if ($run.Length -gt 0) { [void]$parts.Add((& $quoted $run.ToString())) }
        [void]$run.Clear()
        [void]$parts.Add("[char]$([int]$c)")
    }
    if ($run.Length -gt 0 -or $parts.Count -eq 0) { [void]$parts.Add((& $quoted $run.ToString())) }
    if ($parts.Count -eq 1) { return $parts[0] }
    # A string first, so that + joins text rather than adding numbers.
    if (-not $parts[0].StartsWith("'")) { $parts.Insert(0, "''") }
    '(' + ($parts -join ' + ') + ')'
}

# One row as the source of a [pscustomobject]: its selecting properties,
# Enabled, and Optional where it is set; on one line where that fits 120
# columns, else a property a line. A saved path whose names hold * or ?
# (ferrule's ? for a character it cannot show) is typed as the module's
# own, so that it is read back as that one path, not as a rule.
function ConvertTo-BaselineRow {
    param($Wanted)
    $pairs = @("Class = $(ConvertTo-Literal -Value $Wanted.Class)")
    if ($Wanted.Literal -and ([Ferrule.RowReader]::HasWildcard($Wanted.ComponentID) -or
            [Ferrule.RowReader]::HasWildcard($Wanted.Path))) {
        $pairs = @("PSTypeName = 'Ferrule.Binding'") + $pairs
    }
    foreach ($property in 'ComponentID', 'Path', 'Name') {
        if ($Wanted.$property) { $pairs += "$property = $(ConvertTo-Literal -Value $Wanted.$property)" }
    }
    $pairs += "Enabled = `$$($Wanted.Enabled.ToString().ToLowerInvariant())"
    if ($Wanted.Optional) { $pairs += 'Optional = $true' }
    $line = "    [pscustomobject]@{ $($pairs -join '; ') }"
    if ($line.Length -le 120) { return $line }
    (@('    [pscustomobject]@{') + @($pairs | ForEach-Object { "        $_" }) + '    }') -join "`n"
}

# A template's text, only when its SHA-256 is the one that the signed
# Private/TypeHashes.ps1 gives (Authenticode cannot sign a template).
function Read-Template {
    param([string]$Name)
    $file = Join-Path $script:ModuleRoot "Templates/$Name.ps1.in"
    $bytes = [IO.File]::ReadAllBytes($file)
    $sha = [Security.Cryptography.SHA256]::Create()
    $hash = -join @($sha.ComputeHash($bytes) | ForEach-Object { $_.ToString('X2') })
    $sha.Dispose()
    if ($hash -ne $script:TemplateHashes["$Name.ps1.in"]) {
        throw (New-ErrorRecord -Id TemplateChanged -Values $file, $hash -Category SecurityError -Target $file)
    }
    (New-Object System.Text.UTF8Encoding $false).GetString($bytes)
}

# A template's text with the prelude that both scripts begin with in its
# place, the rows between the baseline's markers, and the tool it is made for.
function Format-Remediation {
    param([string]$Template, [string[]]$Rows, [string]$For)
    $prelude = Read-Template -Name Prelude
    $prelude = $prelude.Substring($prelude.IndexOf("# prelude begins`n") + "# prelude begins`n".Length)
    $text = [regex]::Replace((Read-Template -Name $Template), '(?m)^# prelude: .*\n', { $prelude })
    $lines = ($Rows | ForEach-Object { "$_`n" }) -join ''
    $block = "# baseline begins`n`$baseline = @(`n$lines)`n# baseline ends"
    $text = [regex]::Replace($text, '(?s)# baseline begins\n.*?# baseline ends', { $block })
    $flag = $(if ($For -eq 'ConfigurationManager') { '$true' } else { '$false' })
    $text.Replace('$configurationManager = $false', "`$configurationManager = $flag")
}
