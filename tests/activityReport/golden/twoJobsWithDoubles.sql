-- The jobs of twoJobsWithDoubles.ps: 2 and 7 addresses, address types and process states outside
-- the named ones, a negative count, an empty subject and a missing status time.
INSERT INTO jobs VALUES
  (1, '2010-01-05 09:05:03', '2010-01-05 09:07:41', 2, 1, 1, 0, 3, 45678, 'Quarterly (draft)',
   'alice@example.com'),
  (2, '2011-12-31 23:59:58', '2012-01-01 00:00:02', 7, 12, -1, 2, 10, 0, '', 'dave@example.net');
INSERT INTO addresses VALUES
  (1, 1, 0, 1, '2010-01-05 09:06:10', 'Bob Smith', 'bob@example.com'),
  (1, 2, 1, 3, '2010-01-05 09:07:41', 'Carol', 'carol@example.org'),
  (2, 1, 0, 0, '2011-12-31 23:59:59', 'Eve', 'eve@example.net'),
  (2, 2, 2, 2, '2012-01-01 00:00:01', 'Frank', 'frank@example.net'),
  (2, 3, -1, 4, NULL, '', 'grace@example.net'),
  (2, 4, 0, 5, '2012-01-01 00:00:02', 'Heidi', 'heidi@example.net'),
  (2, 5, 1, 6, '2012-01-01 00:00:02', 'Ivan', 'ivan@example.net'),
  (2, 6, 0, 0, '2012-01-01 00:00:03', 'Judy', 'judy@example.net'),
  (2, 7, 1, 1, '2012-01-01 00:00:04', 'Mallory', 'mallory@example.net');
