# The exe's home on another machine, on a Windows runner (elevated), under
# Windows PowerShell 5.1 and PowerShell 7: the module's own steps, as they run
# there, with this process's FERRULE_HOME. A folder that is not only
# administrators' is refused, and nothing runs from it; the folder that the
# module makes is owned and protected as it asks. FERRULE_EXE names the exe.
BeforeAll {
    Import-Module (Join-Path (Split-Path (Split-Path $PSScriptRoot)) 'module/Ferrule/Ferrule.psd1') -Force
    $script:Module = Get-Module Ferrule
    $script:Bytes = [IO.File]::ReadAllBytes($env:FERRULE_EXE)
    $script:Hash = (Get-FileHash -Algorithm SHA256 -LiteralPath $env:FERRULE_EXE).Hash
    # Under C:\, which lets Authenticated Users create folders, as a FERRULE_HOME there would be.
    $script:Root = Join-Path $env:SystemDrive 'ferrule-home-tests'
    $script:Default = Join-Path $env:ProgramFiles 'Ferrule'
    $script:User = 'ferrule-user'
    net user $script:User "Fx9!$([guid]::NewGuid().ToString('N').Substring(0, 12))" /add | Out-Null

    # A folder that Administrators and SYSTEM alone may write, owned by Owner.
    function New-Folder([string]$Path, [string]$Owner = '*S-1-5-32-544') {
        New-Item -ItemType Directory -Path $Path -Force | Out-Null
        icacls $Path /inheritance:r /grant:r '*S-1-5-32-544:(OI)(CI)F' '*S-1-5-18:(OI)(CI)F' '*S-1-5-32-545:(OI)(CI)RX' |
            Out-Null
        icacls $Path /setowner $Owner | Out-Null
    }
    function Copy-Exe([string]$Folder) {
        $exe = Join-Path $Folder 'ferrule.exe'
        [IO.File]::WriteAllBytes($exe, $script:Bytes)
        icacls $exe /setowner '*S-1-5-32-544' | Out-Null
    }
    function Invoke-Probe {
        & $script:Module { & $script:ProbeStep -Name 'ferrule.exe' -Blocks (Get-RemoteBlock) }
    }
    function Invoke-RunStep([string]$Path) {
        & $script:Module {
            param($path, $hash)
            & $script:RunStep -Path $path -Hash $hash -CommandLines @('class proto') -StopAt @() -Blocks (Get-RemoteBlock) `
                -WithAdapterNames $false
        } $Path $script:Hash
    }
    New-Folder $script:Root
}

AfterAll {
    $env:FERRULE_HOME = $null
    cmd /c rmdir "$script:Root\link" 2>$null
    Remove-Item -Recurse -Force -LiteralPath $script:Root, $script:Default -ErrorAction SilentlyContinue
    net user $script:User /delete | Out-Null
}

Describe 'The exe''s home on this Windows machine' {
    # Make is handed the root, and gives the folder to use as FERRULE_HOME, with the exe in it.
    It 'refuses <What>, and runs nothing from it' -ForEach @(
        @{ What = 'a folder owned by a standard user'; Id = 'ExeOwnedBy'; Named = 'owned'
            Make = { param($root) New-Folder "$root\owned" -Owner $script:User; Copy-Exe "$root\owned"; "$root\owned" } }
        @{ What = 'a folder whose path goes through a junction'; Id = 'ExeReparsePoint'; Named = 'link'
            Make = {
                param($root)
                New-Folder "$root\real"
                New-Folder "$root\real\home"
                Copy-Exe "$root\real\home"
                New-Item -ItemType Junction -Path "$root\link" -Target "$root\real" | Out-Null
                "$root\link\home"
            } }
        @{ What = 'a DLL beside the exe'; Id = 'ExeFolderShared'; Named = 'dll'
            Make = {
                param($root)
                New-Folder "$root\dll"
                Copy-Exe "$root\dll"
                Copy-Item (Join-Path $env:SystemRoot 'System32\version.dll') "$root\dll\version.dll"
                "$root\dll"
            } }
    ) {
        $env:FERRULE_HOME = & $Make $Root
        $probe = Invoke-Probe
        $probe.Refused.Id | Should -Be $Id
        $probe.Hash | Should -BeNullOrEmpty
        $answer = Invoke-RunStep (Join-Path $env:FERRULE_HOME 'ferrule.exe')
        $answer.Refused.Id | Should -Be $Id
        $answer.PSObject.Properties['Runs'] | Should -BeNullOrEmpty
        $record = & $Module { param($refused) New-ErrorRecord -Id $refused.Id -Values $refused.Values `
                -Category SecurityError -Target 'localhost' } $answer.Refused
        $record.CategoryInfo.Category | Should -Be 'SecurityError'
        $record.Exception.Message | Should -BeLike "$Root\$Named*not used*"
    }

    It 'makes its own folder under Program Files owned by Administrators, with its rules, and runs from it' {
        $env:FERRULE_HOME = $null
        Remove-Item -Recurse -Force -LiteralPath $Default -ErrorAction SilentlyContinue
        $probe = Invoke-Probe
        $probe.Path | Should -Be (Join-Path $Default 'ferrule.exe')
        $probe.Refused | Should -BeNullOrEmpty
        & $Module { param($path, $bytes) & $script:CopyStep -Path $path -Bytes $bytes -Blocks (Get-RemoteBlock) } $probe.Path $Bytes
        $sid = [Security.Principal.SecurityIdentifier]
        $acl = Get-Acl -LiteralPath $Default
        $acl.GetOwner($sid).Value | Should -Be 'S-1-5-32-544'
        $acl.AreAccessRulesProtected | Should -BeTrue
        @($acl.GetAccessRules($true, $true, $sid) | ForEach-Object {
                $writes = ([int64]$_.FileSystemRights -band 0x50156) -ne 0
                "$($_.IdentityReference.Value) $($_.AccessControlType) writes:$writes $($_.InheritanceFlags)"
            } | Sort-Object) | Should -Be @(
            'S-1-5-18 Allow writes:True ContainerInherit, ObjectInherit'
            'S-1-5-32-544 Allow writes:True ContainerInherit, ObjectInherit'
            'S-1-5-32-545 Allow writes:False ContainerInherit, ObjectInherit'
        )
        (Get-Acl -LiteralPath $probe.Path).GetOwner($sid).Value | Should -Be 'S-1-5-32-544'
        $again = Invoke-Probe
        $again.Refused | Should -BeNullOrEmpty
        $again.Hash | Should -Be $Hash
        $answer = Invoke-RunStep $probe.Path
        $answer.Refused | Should -BeNullOrEmpty
        @($answer.Runs).Count | Should -Be 1
        @($answer.Runs)[0].Status | Should -BeIn @(0, 1)
    }
}
