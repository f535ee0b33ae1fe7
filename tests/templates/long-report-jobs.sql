-- The jobs of a long report, in place of the sample jobs: :jobs jobs of five recipients each,
-- every seventh subject too long for its column.
DELETE FROM addresses;
DELETE FROM jobs;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < :jobs)
INSERT INTO jobs
  SELECT i, '2026-12-06 14:05:00', '2026-12-06 14:09:00', 5, 4, 0, 1, i % 12 + 1, i * 1031,
    'Subject ' || i || CASE WHEN i % 7 THEN '' ELSE ': a subject far too long for its column, as'
      || ' people write them when the subject line is the only place for the whole message, so the'
      || ' report has to cut it at all' END,
    'sender' || i || '@example.com'
  FROM n;
WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 5)
INSERT INTO addresses
  SELECT id, k, k % 3 = 0, (id + k) % 7, '2026-12-06 14:1' || k || ':00', 'Name ' || id || '-' || k,
    'user' || id || '.' || k || '@example.com'
  FROM jobs, n;
