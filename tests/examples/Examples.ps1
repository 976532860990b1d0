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

# The examples of every document that has them: the README's, then
# docs/DEPLOYING.md's, each with its Document.
function Get-DocumentExample {
    $root = Split-Path (Split-Path $PSScriptRoot)
    foreach ($document in 'README.md', 'docs/DEPLOYING.md') {
        foreach ($example in Get-ReadmeExample -Readme (Join-Path $root $document)) {
            $example | Add-Member -NotePropertyName Document -NotePropertyValue $document -PassThru
        }
    }
}
