# The SHA-256 of each of the module's Types/*.cs files, which the module
# compiles only when they match. Written by cmake/type_hashes.py: run it
# after a change of a .cs file.
$script:TypeHashes = [ordered]@{
    'Binding.cs' = 'D82215CA65285F721B68962B3F3350F281903AB7D1377C33EC31A9009D8F6BF6'
    'BindingDrift.cs' = '2B80199AB2DAB50E55D3F1DD044D3B5F591B752757DA8FEBC86DAF3EAC206FCD'
    'DetachedRun.cs' = 'D847C640CAF5FB7C0D0D994CDC25CDEB2B821F1646BD5ACD365976D846AD72CC'
    'Row.cs' = '75FA2BAA402C2B188B85996FE9A78C8C453E15B94DFBA25F3C173D4DEEBE856A'
    'Selection.cs' = '186EDB7CF0E1820747E69A4FE63969298ED41FAD84C73D92606CE0CEBDF603D8'
}
# And of each of its Templates/*.ps1.in files, the scripts that
# New-FerruleRemediation writes, which it uses only when they match.
$script:TemplateHashes = [ordered]@{
    'Detection.ps1.in' = '545706D7F573544A195443D4AA0E40A883CB6F0617558F362DD2FA5C57C7F273'
    'Prelude.ps1.in' = '38202C69A66D30ADDA6C6AD4D8D1CC02EC16E9604BECDB930B6E8A21B69877F1'
    'Remediation.ps1.in' = '81F5473C38C6FA1062D4CDA3CAD1FAD0D76E47807FFEF0B385D6B92B5BFED66E'
}
