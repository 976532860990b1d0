# What every file of the module's suite shares, dot-sourced by each one's
# BeforeAll: the module imported from the repository with this host's blocks
# (SuiteHost.ps1, for every pwsh started from here too), the machine
# descriptions, and the helpers that give each test a machine of its own
# (which ferrule reads and Apply writes back, with a journal of every
# platform call) and the connection names that Get-NetAdapter would give.
$tests = Split-Path $PSScriptRoot
$root = Split-Path $tests
$env:FERRULE_SUITE_HOST = Join-Path $PSScriptRoot 'SuiteHost.ps1'
Import-Module (Join-Path $root 'module/Ferrule/Ferrule.psd1') -Force
. (Join-Path $PSScriptRoot 'Windows51.ps1')
. (Join-Path $PSScriptRoot 'Machines.ps1')
$script:Machines = @{
    sample = Join-Path $root 'standin/sample.machine'
    localized = Join-Path $tests 'machines/localized.machine'
    control = Join-Path $tests 'machines/control.machine'
    long = Join-Path $tests 'machines/long.machine'
}
# This process is in no session of another machine's, so nothing here is
# guarded unless a row says so.
$env:SSH_CONNECTION = $null
$env:SESSIONNAME = $null
# Under Wine, names come through the OEM code page of the run's locale.
$script:CodePage = $env:FERRULE_TEST_CODE_PAGE
. (Join-Path $PSScriptRoot 'Names.ps1')

# A fresh copy of a machine, with lines of its own, for ferrule to use.
function Use-Machine([string]$Name = 'sample', [string[]]$Extra = @()) {
    $file = Join-Path $TestDrive "$Name-$([guid]::NewGuid()).machine"
    $text = [IO.File]::ReadAllText($script:Machines[$Name]) + (($Extra | ForEach-Object { "$_`n" }) -join '')
    [IO.File]::WriteAllText($file, $text)
    $env:STANDIN_MACHINE = $file
    $env:STANDIN_JOURNAL = "$file.journal"
    $file
}

function Get-State([string]$File) {
    @(Read-Machine $File | ForEach-Object { "$($_.ComponentID) $($_.Path) $($_.Enabled)" })
}

# The text that a name becomes on its way through the code page.
function Get-Shown([string]$Text) {
    if (-not $script:CodePage) { return $Text }
    $encoding = [Text.Encoding]::GetEncoding([int]$script:CodePage)
    $encoding.GetString($encoding.GetBytes($Text))
}

function Get-Calls([string]$File, [string]$Pattern) {
    if (-not (Test-Path "$File.journal")) { return @() }
    @(Get-Content "$File.journal" | Where-Object { $_ -match $Pattern })
}

function Set-AdapterStub([switch]$Cim, [string[]]$Names) {
    if (-not $Names) { $Names = 'Ethernet 2', 'Wi-Fi' }
    $adapters = @(
        [pscustomobject]@{ Name = $Names[0]; InterfaceGuid = $script:Ethernet; NetConnectionID = $Names[0]; GUID = $script:Ethernet }
        [pscustomobject]@{ Name = $Names[1]; InterfaceGuid = $script:WiFi; NetConnectionID = $Names[1]; GUID = $script:WiFi }
    )
    Remove-Item Function:\Get-NetAdapter, Function:\Get-CimInstance -ErrorAction SilentlyContinue
    if ($Cim) {
        $global:StubCimAdapters = $adapters
        function global:Get-CimInstance([string]$ClassName) {
            if ($ClassName -eq 'Win32_NetworkAdapter') { $global:StubCimAdapters }
        }
    } else {
        $global:StubNetAdapters = $adapters
        # As Windows gives them: with -IncludeHidden (the module's own call), every adapter; without, those of the
        # names given, as CIM instances of MSFT_NetAdapter.
        function global:Get-NetAdapter([string[]]$Name = '*', [switch]$IncludeHidden) {
            if ($IncludeHidden) { return $global:StubNetAdapters }
            foreach ($one in $global:StubNetAdapters) {
                if (-not @($Name | Where-Object { $one.Name -like $_ })) { continue }
                $copy = $one.PSObject.Copy()
                $copy.PSObject.TypeNames.Insert(0, 'Microsoft.Management.Infrastructure.CimInstance#ROOT/StandardCimv2/MSFT_NetAdapter')
                $copy
            }
        }
    }
}

# What a file of the suite leaves behind: the stubs, and the module.
function Remove-Suite {
    Remove-Item Function:\Get-NetAdapter, Function:\Get-CimInstance -ErrorAction SilentlyContinue
    Remove-Module Ferrule -ErrorAction SilentlyContinue
}
