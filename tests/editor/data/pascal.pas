unit Sample;

interface

uses SysUtils;

{ a comment
  across lines }
const
  Mask = $1F; Ratio = 1.2.3;
procedure Run(const S: string);

implementation

procedure Run(const S: string);
var
  i: Integer;
begin
  // note } begin
  for i := 0 to 10 do
    if ifthen then ShowMessage('it''s ' + S) else Exit;
  Writeln("double", 'http://x.org/{y');
end;

end.
