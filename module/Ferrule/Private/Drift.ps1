# Drift: how each machine's paths stand against baseline rows, found from one
# listing of each of the rows' classes on each machine, changing nothing.

function New-Drift {
    param([string]$Computer, [string]$Class, [string]$ComponentID, [string]$Name, [string]$Path, $Wanted, $Found,
        [string]$Drift)
    if (-not $Computer) { $Computer = [Environment]::MachineName }
    [pscustomobject]@{
        PSTypeName = 'Ferrule.Drift'; ComputerName = $Computer; Drift = $Drift; Class = $Class; ComponentID = $ComponentID
        Name = $Name; Path = $Path; Wanted = $Wanted; Found = $Found
    }
}

# One object a path whose state differs from the last row that names it
# (Changed), or a literal row that names no path (Missing); with
# -IncludeEqual also the paths in their wanted state (Equal), with
# -IncludeNew every path of the rows' classes that no row names (New). A
# machine whose listings could not be made is an error, never an empty answer.
function Compare-Baseline {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [switch]$IncludeEqual, [switch]$IncludeNew)
    $routes = @(foreach ($want in $Wanted) {
            $targets = @(Get-RowComputer -Cmdlet $Cmdlet -Session $Session -Want $want)
            if ($targets.Count -gt 0) { @{ Want = $want; Computers = $targets } }
        })
    $classes = @($script:ClassWords.Keys | Where-Object { @($Wanted | ForEach-Object Class) -contains $_ })
    if ($classes.Count -eq 0) { return }
    $computers = Get-SessionComputer -Session $Session
    $listings = Get-Listing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Computers $computers -Classes $classes
    foreach ($computer in $computers) {
        if (-not $listings.ContainsKey($computer)) { continue }
        $listing = $listings[$computer]
        if ($listing.Problems.Count -gt 0) {
            $message = "The listings to compare could not be made: $($listing.Problems -join ' | ')."
            $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category ReadError -Target $computer -Computer $computer))
            continue
        }
        $chosen = [ordered]@{}
        foreach ($route in $routes) {
            if ($route.Computers -notcontains $computer) { continue }
            $want = $route.Want
            $found = @(Find-Wanted -Want $want -Bindings @($listing.Classes[$want.Class]))
            if ($found.Count -eq 0 -and $want.Literal) {
                New-Drift -Computer $computer -Class $want.Class -ComponentID $want.ComponentID -Name $want.Name -Path $want.Path `
                    -Wanted $want.Enabled -Found $null -Drift Missing
            }
            foreach ($one in $found) { $chosen[(Get-BindingKey -Binding $one)] = @{ Binding = $one; Wanted = $want.Enabled } }
        }
        foreach ($entry in $chosen.Values) {
            $one = $entry.Binding
            $drift = $(if ($one.Enabled -ne $entry.Wanted) { 'Changed' } elseif ($IncludeEqual) { 'Equal' } else { $null })
            if (-not $drift) { continue }
            New-Drift -Computer $computer -Class $one.Class -ComponentID $one.ComponentID -Name $one.Name -Path $one.Path `
                -Wanted $entry.Wanted -Found $one.Enabled -Drift $drift
        }
        if (-not $IncludeNew) { continue }
        foreach ($class in $classes) {
            foreach ($one in @($listing.Classes[$class])) {
                if ($null -eq $one -or $chosen.Contains((Get-BindingKey -Binding $one))) { continue }
                New-Drift -Computer $computer -Class $one.Class -ComponentID $one.ComponentID -Name $one.Name -Path $one.Path `
                    -Wanted $null -Found $one.Enabled -Drift New
            }
        }
    }
}
