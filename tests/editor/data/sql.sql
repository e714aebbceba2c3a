/* report of open orders
   written for the nightly run */
SELECT o.id, c.name, o.total * 1.5
FROM orders o INNER JOIN customers c ON c.id = o.customer
WHERE o.state = 'open' AND o.total > -10 /*
still a comment */ ORDER BY o.total;
// a line comment with /* inside
Insert into log values ("done", 42);
Declare @x int; Set @x = 0x1F;
