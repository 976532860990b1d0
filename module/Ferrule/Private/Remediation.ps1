# The scripts of a remediation, made from a baseline: the templates of
# Templates/ with the baseline's rows written into them as data.

# One value as PowerShell source that gives it back exactly, in ASCII alone:
# a single-quoted literal of its printable ASCII, escaped as the language
# escapes one, with every other character (a control character, one beyond
# ASCII, a lone half of a surrogate pair) joined in as a [char] code.
# Windows PowerShell 5.1 reads a script without a byte order mark in the
# ANSI code page, and no change of line endings, code page or encoder can
# change a value written so.
function ConvertTo-Literal {
    param([string]$Value)
    $quoted = { "'" + [Management.Automation.Language.CodeGeneration]::EscapeSingleQuotedStringContent($args[0]) + "'" }
    $parts = New-Object System.Collections.ArrayList
    $run = New-Object System.Text.StringBuilder
    foreach ($c in $Value.ToCharArray()) {
        if ([int]$c -ge 0x20 -and [int]$c -le 0x7E) {
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
    '(' + ($parts -join '+') + ')'
}

# One row as the source of a [pscustomobject], on one line and without a
# space to spare (a baseline of saved rows is thousands of them): its
# selecting properties, Enabled, and Optional where it is set. A saved path
# whose names hold * or ? (ferrule's ? for a character it cannot show) is
# typed as the module's own, so that it is read back as that one path, not
# as a rule.
function ConvertTo-BaselineRow {
    param($Wanted)
    $pairs = @("Class=$(ConvertTo-Literal -Value $Wanted.Class)")
    if ($Wanted.Literal -and ([Ferrule.RowReader]::HasWildcard($Wanted.ComponentID) -or
            [Ferrule.RowReader]::HasWildcard($Wanted.Path))) {
        $pairs = @("PSTypeName='Ferrule.Binding'") + $pairs
    }
    foreach ($property in 'ComponentID', 'Path', 'Name') {
        if ($Wanted.$property) { $pairs += "$property=$(ConvertTo-Literal -Value $Wanted.$property)" }
    }
    $pairs += "Enabled=`$$($Wanted.Enabled.ToString().ToLowerInvariant())"
    if ($Wanted.Optional) { $pairs += 'Optional=$true' }
    "    [pscustomobject]@{$($pairs -join ';')}"
}

# The rule that names a saved row's path on any machine, as PowerShell
# source: on adapters the bound component and the adapter's connection name
# (every adapter where the row gives none), elsewhere the component and the
# path with a wildcard for its last element, the component itself.
function ConvertTo-RuleText {
    param($Want, [switch]$Optional)
    $pairs = @("Class = $(ConvertTo-Literal -Value $Want.Class)",
        "ComponentID = $(ConvertTo-Literal -Value $Want.ComponentID)")
    $upper = $Want.Path.LastIndexOf('->')
    if ($Want.Class -eq 'Adapter') {
        $name = $(if ($Want.Name) { $Want.Name } else { '*' })
        $pairs += "Name = $(ConvertTo-Literal -Value $name)"
    } elseif ($upper -gt 0) {
        $pairs += "Path = $(ConvertTo-Literal -Value ($Want.Path.Substring(0, $upper) + '->*'))"
    }
    $pairs += "Enabled = `$$($Want.Enabled.ToString().ToLowerInvariant())"
    if ($Optional) { $pairs += 'Optional = $true' }
    "@{ $($pairs -join '; ') }"
}

# Items joined for a message, the first Most of them, then how many more.
function Join-Shown {
    param([string[]]$Items, [int]$Most = 5)
    $shown = @($Items | Select-Object -First $Most) -join ', '
    if ($Items.Count -le $Most) { return $shown }
    Get-Message -Id ListMore -Values $shown, ($Items.Count - $Most)
}

# An adapter's bind name that is a GUID, as Windows names a device's adapter.
$script:AdapterGuid = '^\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}$'

# Whether the rows (Wanted, read) can be a remediation's, which is for every
# device it is assigned to: each saved row with Optional is an error
# (Optional is for rules, which may name nothing on a device; a saved row
# names one path, and is Missing where it is not there); the saved rows that
# name one machine's adapters by their GUIDs, which every other machine is
# Missing, are one warning that names them and the rules that fit any machine.
function Test-RemediationRow {
    param($Cmdlet, [object[]]$Wanted)
    $fits = $true
    $ofOne = New-Object System.Collections.ArrayList
    foreach ($want in $Wanted) {
        if (-not $want.Literal) { continue }
        if ($want.Optional) {
            $fits = $false
            $values = "$($want.ComponentID) $($want.Path)", (ConvertTo-RuleText -Want $want -Optional)
            $Cmdlet.WriteError((New-ErrorRecord -Id RowOptionalSaved -Values $values -Category InvalidArgument `
                        -Target $want.Source))
            continue
        }
        if ($want.Class -eq 'Adapter' -and [Ferrule.Binding]::Last($want.Path) -match $script:AdapterGuid) {
            [void]$ofOne.Add($want)
        }
    }
    if ($ofOne.Count -gt 0) {
        $rows = @(foreach ($want in $ofOne) { "$($want.Path)$(if ($want.Name) { " ($($want.Name))" })" })
        $rules = @($ofOne | ForEach-Object { ConvertTo-RuleText -Want $_ } | Select-Object -Unique)
        $Cmdlet.WriteWarning((Get-Message -Id RowsOfOneMachine -Values (Join-Shown -Items $rows),
                (Join-Shown -Items $rules)))
    }
    $fits
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

# The text before and the text after the one line of a template that is
# Line, which may be a block of lines.
function Split-Template {
    param([string]$Text, [string]$Line)
    # A line feed before the text, so that its first line is found as any other.
    $at = "`n$Text".IndexOf("`n$Line`n", [StringComparison]::Ordinal)
    @($Text.Substring(0, $at), $Text.Substring($at + $Line.Length + 1))
}

# A template's text with the prelude that both scripts begin with in its
# place, the rows in the prelude's baseline, and the tool it is made for.
# Each goes at its place in the templates, found in the templates alone:
# nothing is searched for or replaced in what the rows hold.
function Format-Remediation {
    param([string]$Template, [string[]]$Rows, [string]$For)
    $prelude = (Split-Template -Text (Read-Template -Name Prelude) -Line '# prelude begins')[1]
    $place = '# prelude: the lines of Templates/Prelude.ps1.in come here'
    $around = Split-Template -Text (Read-Template -Name $Template) -Line $place
    $baseline = Split-Template -Text $prelude -Line "# baseline begins`n`$baseline = @(`n)`n# baseline ends"
    $flag = Split-Template -Text $baseline[1] -Line '$configurationManager = $false'
    $value = $(if ($For -eq 'ConfigurationManager') { '$true' } else { '$false' })
    $lines = ($Rows | ForEach-Object { "$_`n" }) -join ''
    $around[0] + $baseline[0] + "# baseline begins`n`$baseline = @(`n$lines)`n# baseline ends`n" + $flag[0] +
        "`$configurationManager = $value`n" + $flag[1] + $around[1]
}

# Signs a script file with Authenticode, SHA-256, and returns the signature.
# A function of its own: Set-AuthenticodeSignature is Windows' alone, and a
# test stands in for it elsewhere.
function Set-ScriptSignature {
    param([string]$File, [Security.Cryptography.X509Certificates.X509Certificate2]$Certificate)
    $signing = @{ FilePath = $File; Certificate = $Certificate; HashAlgorithm = 'SHA256'; ErrorAction = 'Stop' }
    Set-AuthenticodeSignature @signing -WhatIf:$false -Confirm:$false
}

# A script's bytes as they are to be written: ASCII, which is UTF-8 without a
# byte order mark as Intune takes a script whether or not it checks its
# signature, and which every PowerShell reads alike; signed when a
# certificate is given. Signing needs a file: a copy in the temporary folder
# is signed and read back. A signature that does not verify here is refused.
function Get-ScriptBytes {
    param([string]$Text, [Security.Cryptography.X509Certificates.X509Certificate2]$Certificate)
    $bytes = [Text.Encoding]::ASCII.GetBytes($Text)
    if ($null -eq $Certificate) { return , $bytes }
    $file = Join-Path ([IO.Path]::GetTempPath()) "ferrule-$([guid]::NewGuid().ToString('N')).ps1"
    try {
        [IO.File]::WriteAllBytes($file, $bytes)
        try {
            $signature = Set-ScriptSignature -File $file -Certificate $Certificate
            $said = "$($signature.Status): $($signature.StatusMessage)"
        } catch {
            $signature = $null
            $said = $_.Exception.Message
        }
        if ($null -eq $signature -or "$($signature.Status)" -ne 'Valid') {
            $refusal = @{ Id = 'ScriptNotSigned'; Values = $Certificate.Subject, $said; Category = 'SecurityError' }
            throw (New-ErrorRecord @refusal -Target $Certificate)
        }
        , [IO.File]::ReadAllBytes($file)
    } finally {
        Remove-Item -LiteralPath $file -Force -ErrorAction SilentlyContinue
    }
}

# Intune takes a script of less than 200 KB ("Use PowerShell scripts on
# Windows 10/11 devices in Intune", Microsoft Learn); rows make most of it.
$script:IntuneScriptLimit = 200KB

# Whether every script fits what Intune takes, each that does not an error
# that says by how much, and what makes it smaller.
function Test-ScriptSize {
    param($Cmdlet, [object[]]$Scripts, [bool]$Signed)
    $fits = $true
    foreach ($script in $Scripts) {
        if ($script.Bytes.Length -lt $script:IntuneScriptLimit) { continue }
        $fits = $false
        $signature = $(if ($Signed) { Get-Message -Id ScriptSizeSigned } else { '' })
        $values = (Split-Path -Leaf $script.File), $script.Bytes.Length, $signature, $script:IntuneScriptLimit
        $record = New-ErrorRecord -Id ScriptTooLarge -Values $values -Category LimitsExceeded -Target $script.File
        $Cmdlet.WriteError($record)
    }
    $fits
}
