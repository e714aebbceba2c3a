' sample module
DECLARE FUNCTION Area (r AS DOUBLE)
DIM total AS DOUBLE
{ a block comment
  over two lines }
FOR i = 1 TO 10 STEP 2
    total = total + Area(i) * 0x1F
NEXT i
IF total > 3.5 THEN PRINT "big: "; total ELSE PRINT 'not big
FOR NEXT
FUNCTION Area (r AS DOUBLE)
    RETURN 3.14159 * r * r
END FUNCTION
