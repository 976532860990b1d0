<#
.SYNOPSIS
Checks ferrule on this Windows machine against the platform's own view of its bindings.

.DESCRIPTION
Run it elevated, on a scratch or test machine, with the exes of a release. It
makes three checks, prints what it did, and returns a result whose Passed
says whether the first two passed (and Status: 0 passed, 1 failed, 2 not run).
It never ends the session: a script turns the result into its own status.

1. Bindings: ferrule's class dev beside Get-NetAdapterBinding -AllBindings
   -IncludeHidden (Windows 8 and Server 2012 or later). Each adapter's bind
   name in ferrule is taken to be its InterfaceGuid, and a component's binding
   to it the path COMPONENT->{GUID}; every pair on one side only, and every
   pair in two states, is a row of a table.
2. Round trip: the binding of ms_lltdio (which carries none of the machine's
   traffic) to one adapter is disabled and enabled with ferrule, and the
   platform is asked after each step; whatever happens it is then put back as
   it was. It is the only path the check changes.
3. x86: with -X86Path, both exes list all four classes, and an x86 round trip
   is made on the same path (put back with the first exe whatever happens):
   both are reported, and never fail the check.

.PARAMETER Path
The ferrule.exe to check; by default the module's own for this machine.

.PARAMETER X86Path
The x86 ferrule.exe, to compare with the first.

.EXAMPLE
PS C:\> $result = Test-Ferrule -Path .\x64\ferrule.exe -X86Path .\x86\ferrule.exe
PS C:\> if (-not $result.Passed) { exit 1 }

Checks both exes of a release, and fails a script when the check failed.
#>
function Test-Ferrule {
    [CmdletBinding()]
    [OutputType('Ferrule.CheckResult')]
    param(
        [string]$Path = (Get-ExePath),
        [string]$X86Path
    )
    $result = [pscustomobject]@{
        PSTypeName = 'Ferrule.CheckResult'; Passed = $false; Status = 2; Bindings = $null; RoundTrip = $null
        X86 = 'x86 not compared'; Summary = $null
    }
    if (-not (Test-Elevated)) {
        $result.Summary = ('Test-Ferrule: run this from an elevated prompt (Run as administrator): ferrule needs the ' +
            "network configuration's write lock; nothing was run")
        Write-Host $result.Summary
        return $result
    }
    try {
        $bindings = Test-CheckBinding -Exe $Path -View (Get-PlatformView)
        $roundTrip = Test-RoundTrip -Exe $Path -Pairs $bindings.Pairs
    } catch {
        $result.Status = 1
        $result.Summary = "Test-Ferrule: FAILED: $($_.Exception.GetType().Name): $($_.Exception.Message)"
        Write-Host $result.Summary
        return $result
    }
    if ($X86Path) {
        $result.X86 = Compare-X86 -X64 $Path -X86 $X86Path
        # Whatever the x86 exe does, the first exe puts the path back as it was.
        $candidates = @($bindings.Pairs.Keys | Sort-Object | Where-Object { $_.EndsWith("|$script:Lltdio") })
        $before = $null
        if ($candidates.Count `
            -gt 0) { $before = Get-LltdioState $bindings.Pairs[$candidates[0]].Component.Bind.ToUpperInvariant() }
        $x86Trip = $false
        try { $x86Trip = Test-RoundTrip -Exe $X86Path -Pairs $bindings.Pairs -Label 'x86 round trip' }
        finally {
            if ($null -ne $before) { Restore-CheckPath -Exe $Path -Path $bindings.Pairs[$candidates[0]] `
                -Original $before | Out-Null }
        }
        $result.X86 += $(if ($x86Trip) { ', x86 round trip passed' } else { ', x86 round trip failed' })
    }
    $result.Passed = $bindings.Passed -and $roundTrip
    $result.Status = $(if ($result.Passed) { 0 } else { 1 })
    $result.Bindings = $(if ($bindings.Passed) { 'agree' } else { 'disagree' })
    $result.RoundTrip = $(if ($roundTrip) { 'passed' } else { 'failed' })
    $word = $(if ($result.Passed) { 'PASSED' } else { 'FAILED' })
    $result.Summary =
        "Test-Ferrule: ${word}: bindings $($result.Bindings), round trip $($result.RoundTrip), $($result.X86)"
    Write-Host $result.Summary
    $result
}
