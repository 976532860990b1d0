# Runs the module's Pester suite with the Pester module named, and exits with
# the number of tests that failed.
param(
    [Parameter(Mandatory = $true)] [string]$Pester,
    [string[]]$Path = @(foreach ($name in 'Selection', 'Change', 'Row', 'Drift', 'Guard', 'Output', 'Run', 'Desired', 'Ferrule') {
            Join-Path $PSScriptRoot "$name.Tests.ps1"
        })
)
Import-Module $Pester -Force
$configuration = New-PesterConfiguration
$configuration.Run.Path = $Path
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $configuration
exit $result.FailedCount
