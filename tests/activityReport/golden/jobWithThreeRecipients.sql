-- The job of jobWithThreeRecipients.ps, its texts in Latin-9: the subject "Café menu (v2)" and
-- the name "Zoë" (e9 and eb are the bytes of é and ë).
INSERT INTO jobs VALUES (1, '2010-01-05 09:05:03', '2010-01-05 09:07:41', 3, 2, 1, 0, 4, 98765,
  CAST(X'436166e9206d656e752028763229' AS TEXT), 'chef@example.com');
INSERT INTO addresses VALUES
  (1, 1, 0, 1, '2010-01-05 09:06:00', CAST(X'5a6feb' AS TEXT), 'zoe@example.com'),
  (1, 2, 1, 5, '2010-01-05 09:07:41', 'Marc', 'marc@example.org'),
  (1, 3, 0, 7, NULL, 'Ann', 'ann@example.net');
