# The README's examples, each a fenced block under a comment that names it:
# <!-- example: NAME -->, or <!-- example: exempt (why) --> for one that only
# asks Windows (or needs it). Returns each block: Name, Language, Code.
function Get-ReadmeExample {
    param([string]$Readme = (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'README.md'))
    $text = [IO.File]::ReadAllText($Readme)
    foreach ($match in [regex]::Matches($text, '(?ms)(?:<!-- example: (\S+)[^\n]*-->\n)?^```(\w*)\n(.*?)^```')) {
        [pscustomobject]@{ Name = $match.Groups[1].Value; Language = $match.Groups[2].Value; Code = $match.Groups[3].Value }
    }
}
